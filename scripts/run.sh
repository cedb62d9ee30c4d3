#!/usr/bin/env bash
# Installs what is missing, builds, and runs Kestrix. Without arguments it exports the demo
# archives of samples/ into build/demo-export; with arguments they go to kestrix as they are.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
if [ $# -gt 0 ]; then
  exec build/kestrix "$@"
fi
out=build/demo-export
rm -rf "$out"
status=0
for archive in samples/*; do
  [ -f "$archive" ] || continue
  # Resource files are read through the archives that name them.
  case "$archive" in *.resS | *.resource) continue ;; esac
  build/kestrix export "$archive" -p "$out" || status=$?
done
echo
echo "Exported the demo archives into $out/Unity_Assets_Files:"
find "$out" -type f | sort | sed 's/^/  /'
exit $status
