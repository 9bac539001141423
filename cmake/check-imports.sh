#!/usr/bin/env bash
# Fails when a Windows binary imports a mingw runtime DLL: what we ship must
# run on a machine that has none of them.
# usage: check-imports.sh OBJDUMP FILE...
set -u
objdump=$1; shift
status=0
for f in "$@"; do
  dlls=$("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p')
  bad=$(printf '%s\n' "$dlls" | grep -i -E '^(libstdc\+\+|libgcc|libwinpthread|libssp|libgomp)' || true)
  if [ -n "$bad" ]; then
    echo "FAIL $f imports: $bad"
    status=1
  else
    echo "ok   $f ($(printf '%s\n' "$dlls" | grep -c .) DLLs: $(printf '%s ' $dlls))"
  fi
done
exit $status
