#!/bin/sh
# compare_digests.sh NATIVE_EXE WINE WINDOWS_EXE: both programs must print the
# same digests (the Windows one through wine, line endings aside).
set -eu
native=$("$1") || { echo "native digest program failed:"; echo "$native"; exit 1; }
windows=$("$2" "$3" | tr -d '\r') || { echo "Windows digest program failed:"; echo "$windows"; exit 1; }
echo "native:";  echo "$native"
echo "windows:"; echo "$windows"
[ "$native" = "$windows" ] || { echo "digests differ"; exit 1; }
echo "same floats"
