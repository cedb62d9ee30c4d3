#!/usr/bin/env bash
# Runs a Windows program under wine for the tests. When wine itself fails (its client loses the
# server before or while the program runs, "wine client error"), the program is run once more:
# that is the machine's fault, not the program's. Any other failure stands as it is.
err=$(mktemp)
trap 'rm -f "$err"' EXIT
for attempt in 1 2; do
  wine "$@" 2> >(tee "$err" >&2)
  rc=$?
  wait  # the tee, so that the check below sees all of it
  if [ "$rc" -eq 0 ] || ! grep -q '^wine client error' "$err"; then
    exit "$rc"
  fi
  echo "wine lost its server (exit $rc); running it again" >&2
done
exit "$rc"
