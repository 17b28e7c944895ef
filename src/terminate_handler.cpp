#include <cstdlib>
#include <exception>

// Linked only where libstdc++ is linked statically. Its default terminate
// handler, which std::terminate starts with and set_terminate(nullptr) puts
// back, names the exception's type through the C++ demangler: some 50 KiB of
// code userctl never runs, since main sets its own handler before anything
// can throw. Defined here, as a plain abort, the archive's handler and the
// demangler with it are left out of the link. Not where libstdc++ is shared:
// the library then calls its own.
void __gnu_cxx::__verbose_terminate_handler() { std::abort(); }
