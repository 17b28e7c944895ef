# 32-bit big-endian PowerPC, the board's processor. Tests run under qemu-ppc
# with the cross toolchain's libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)
set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)
set(CMAKE_FIND_ROOT_PATH /usr/powerpc-linux-gnu)
# Debian ships no libxcrypt for PowerPC: "scripts/deps all" builds it from
# Debian's source into deps/powerpc-linux-gnu. Libraries are looked for under
# these roots alone, so that is one of them (CMAKE_PREFIX_PATH would not do).
get_filename_component(USERCTL_POWERPC_DEPS ${CMAKE_CURRENT_LIST_DIR}/../deps/powerpc-linux-gnu ABSOLUTE)
list(APPEND CMAKE_FIND_ROOT_PATH ${USERCTL_POWERPC_DEPS})
set(USERCTL_XCRYPT_MISSING "run scripts/deps all, which builds it into ${USERCTL_POWERPC_DEPS}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc -L /usr/powerpc-linux-gnu)
