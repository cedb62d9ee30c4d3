#!/usr/bin/env bash
# Builds the Windows command line (scripts/windows-build.sh) and packs it for users:
# build-windows/kestrix-windows-x86_64.zip holds kestrix.exe (without debug sections), a short
# README for Windows and the licence texts of every library linked into it. Refuses to pack a
# program that would need a DLL beyond Windows' own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/windows-build.sh --target kestrix
out=build-windows/release
rm -rf "$out" build-windows/kestrix-windows-x86_64.zip
mkdir -p "$out/kestrix/licenses"
x86_64-w64-mingw32-strip -o "$out/kestrix/kestrix.exe" build-windows/kestrix.exe

# Windows' own DLLs, the ones every Windows 10 and 11 has in System32.
system_dlls='^(kernel32|user32|advapi32|shell32|ole32|ws2_32|bcrypt|msvcrt|ucrtbase|ntdll|rpcrt4|shlwapi|api-ms-win-.*)\.dll$'
needed=$(x86_64-w64-mingw32-objdump -p "$out/kestrix/kestrix.exe" | sed -n 's/^\s*DLL Name: //p' |
  tr 'A-Z' 'a-z' | sort -u)
extra=$(grep -Ev "$system_dlls" <<<"$needed" || true)
if [[ -n "$extra" ]]; then
  echo "kestrix.exe needs DLLs that Windows does not have: $extra" >&2
  exit 1
fi

sed 's/$/\r/' docs/windows-readme.txt >"$out/kestrix/README.txt"
for f in build-windows/deps/licenses/*.txt; do
  sed 's/$/\r/' "$f" >"$out/kestrix/licenses/$(basename "$f")"
done
# The compiler's runtime (libstdc++, libgcc, winpthreads) and the mingw-w64 startup code.
sed 's/$/\r/' /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright \
  >"$out/kestrix/licenses/gcc-runtime.txt"
sed 's/$/\r/' /usr/share/doc/mingw-w64-x86-64-dev/copyright >"$out/kestrix/licenses/mingw-w64.txt"

(cd "$out" && cmake -E tar cf ../kestrix-windows-x86_64.zip --format=zip kestrix)
echo "build-windows/kestrix-windows-x86_64.zip:"
echo "$needed" | sed 's/^/  uses /'
unzip -l build-windows/kestrix-windows-x86_64.zip 2>/dev/null | tail -n +4 | head -n -2 || true
