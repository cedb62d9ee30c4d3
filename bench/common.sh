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

# One timed run: prints "wall-seconds cpu-seconds peak-kilobytes". A script that defines
# before_timed_run has it called first (to clear what the previous run wrote).
timed() {
  if declare -F before_timed_run >/dev/null; then before_timed_run; fi
  /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "$@" >/dev/null
  awk '{print $1, $2 + $3, $4}' "$work/time.txt"
}

# Kestrix (the command) and the reference (a shell text) alternately, `runs` times each, so that
# both see the same load on a shared machine; the best wall and CPU time and the largest peak of
# each count. Prints "k_wall k_cpu k_peak r_wall r_cpu r_peak".
compare() {
  local runs=$1 reference=$2
  shift 2
  local kw="" kc="" kp=0 rw="" rc="" rp=0 w c m
  for ((i = 0; i < runs; i++)); do
    read -r w c m < <(timed "$@")
    kw=$(awk -v a="$kw" -v b="$w" 'BEGIN{print (a == "" || b < a) ? b : a}')
    kc=$(awk -v a="$kc" -v b="$c" 'BEGIN{print (a == "" || b < a) ? b : a}')
    ((m > kp)) && kp=$m
    read -r w c m < <(timed sh -c "$reference")
    rw=$(awk -v a="$rw" -v b="$w" 'BEGIN{print (a == "" || b < a) ? b : a}')
    rc=$(awk -v a="$rc" -v b="$c" 'BEGIN{print (a == "" || b < a) ? b : a}')
    ((m > rp)) && rp=$m
  done
  echo "$kw $kc $kp $rw $rc $rp"
}
