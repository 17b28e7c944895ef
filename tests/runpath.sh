#!/bin/sh
# Fails when a PROGRAM's run path has an empty or a relative entry: the
# dynamic linker takes either from the current directory, where whoever can
# write it could plant a library that root's run would load.
# Usage: runpath.sh PROGRAM...
status=0
for program; do
  dynamic=$(readelf -d "$program") || exit 2
  echo "$dynamic" | sed -n 's/.*(R[UN]*PATH).*: \[\(.*\)\]$/\1/p' | while IFS= read -r path; do
    case ":$path:" in
      *::*) echo "$program: run path \"$path\" has an empty entry"; exit 1 ;;
      *:[!/:]*) echo "$program: run path \"$path\" has a relative entry"; exit 1 ;;
    esac
  done || status=1
done
exit $status
