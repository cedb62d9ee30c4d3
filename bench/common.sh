# What the benchmark scripts share: a check that the programs they time were built, and a work
# folder that goes when the script ends. Sourced, not run.

# Stops with a message unless every argument is an executable file.
need_tools() {
  local tool
  for tool in "$@"; do
    [ -x "$tool" ] || { echo "missing $tool: build with -DKESTRIX_BENCH=ON first" >&2; exit 1; }
  done
}

# Sets `work` to a fresh folder, removed on exit.
make_work_folder() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/kestrix-bench-XXXXXX")
  trap 'rm -rf "$work"' EXIT
}
