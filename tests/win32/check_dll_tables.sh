#!/usr/bin/env bash
# check_dll_tables.sh DLL: a 32-bit PE whose only export is the plugin entry, whose
# imports are system DLLs alone (the C++ runtime is linked in), and which stays within
# 350,000 bytes (a wide std::to_wstring or a stream alone would link the C library's
# printf family, some 25 KB).
set -euo pipefail
dll=$1
dump=$(i686-w64-mingw32-objdump -p "$dll")
fail=0

grep -q "^Magic.*010b" <<<"$dump" || { echo "not a PE32 (32-bit) image"; fail=1; }
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | awk '/^[[:space:]]+\[/{print $NF}')
if [ "$exports" != "winampGetGeneralPurposePlugin" ]; then
  echo "exports are not exactly winampGetGeneralPurposePlugin:"; echo "$exports"; fail=1
fi
allowed='^(KERNEL32|USER32|GDI32|WINMM|WS2_32|WSOCK32|SHELL32|ADVAPI32|msvcrt|COMCTL32|ole32|SECUR32|CRYPT32)\.dll$'
while read -r name; do
  if ! grep -qiE "$allowed" <<<"$name"; then echo "imports a non-system DLL: $name"; fail=1; fi
done < <(awk '/DLL Name:/{print $3}' <<<"$dump")
size=$(stat -c %s "$dll")
# The budget: the site and three listening targets, TLS and the JPEG decoder fit in it.
if [ "$size" -gt 350000 ]; then echo "$size bytes: more than 350,000"; fail=1; fi
echo "size: $size bytes"
echo "imports: $(awk '/DLL Name:/{printf "%s ", $3}' <<<"$dump")"
echo "exports: $exports"
exit $fail
