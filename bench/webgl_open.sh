#!/usr/bin/env bash
# Opening a web build's data file against the reference decoders, on the same file in the same
# run: a brotli-wrapped one of about 100 MB vs `brotli -d` of it, a gzip-wrapped one vs `gzip -d`,
# and the peak memory of each open. Targets: ratios at most 1.2, peak memory under 64 MB.
# The container holds a real serialized file of the corpus first (so "-i 0" lists objects) and
# then enough half-compressible filler that the wrapped file reaches the size asked for.
#   bash bench/webgl_open.sh [build folder] [wrapped MB]
set -euo pipefail
source "$(dirname "$0")/common.sh"
shopt -s inherit_errexit
cd "$(dirname "$0")/.."
build=${1:-build}
mb=${2:-100}
kestrix=$build/kestrix
need_tools "$kestrix"
command -v brotli >/dev/null || { echo "brotli is needed (Debian package brotli)" >&2; exit 1; }
make_work_folder
corpus=${KESTRIX_CORPUS:-../shared/corpus}
source_data=$corpus/webgl/MirzaBeig_Animated-Organic-FBM-WebGL_WebGL.data

echo "generating a container of about ${mb} MB wrapped in $work" >&2
python3 - "$source_data" "$work/Build.data" "$mb" <<'EOF'
import os, random, struct, sys
src, dst, mb = sys.argv[1], sys.argv[2], int(sys.argv[3])
d = open(src, 'rb').read()
hs = struct.unpack('<I', d[16:20])[0]
pos, first = 20, None
while pos < hs:
    off, size, n = struct.unpack('<III', d[pos:pos + 12])
    name = d[pos + 12:pos + 12 + n].decode()
    pos += 12 + n
    if name.startswith('Resources/'):
        first = (name, d[off:off + size])
# Filler that compresses about 2:1, as a build's code and data do: random runs between repeats.
rng = random.Random(7)
words = [os.urandom(rng.randint(4, 24)) for _ in range(4096)]
target = mb * 1024 * 1024 * 2
parts, have = [], 0
while have < target:
    piece = os.urandom(4096) + b''.join(rng.choice(words) for _ in range(300))
    parts.append(piece)
    have += len(piece)
filler = b''.join(parts)[:target]
entries = [first, ('boot.config', b'wait-for-native-debugger=0\n'),
           ('Il2CppData/Metadata/global-metadata.dat', filler)]
header = 20 + sum(12 + len(n.encode()) for n, _ in entries)
table, offset = b'', header
for n, data in entries:
    table += struct.pack('<III', offset, len(data), len(n.encode())) + n.encode()
    offset += len(data)
with open(dst, 'wb') as f:
    f.write(b'UnityWebData1.0\0' + struct.pack('<I', header) + table)
    for _, data in entries:
        f.write(data)
EOF
brotli -q 5 -w 22 -c "$work/Build.data" >"$work/Build.data.br"
gzip -6 -c "$work/Build.data" >"$work/Build.data.gz"
rm "$work/Build.data"
ls -l "$work"/Build.data.* >&2

# Each timed run starts without the previous run's outputs.
before_timed_run() { rm -f "$work"/*.out "$work"/.Build.data.*; }

report() {  # label figures reference-name
  local kw kc kp rw rc rp
  read -r kw kc kp rw rc rp <<<"$2"
  printf '%-6s kestrix list: %6.2f s wall, %6.2f s cpu, peak %3d MB | %s: %6.2f s wall, %6.2f s cpu, peak %3d MB\n' \
    "$1" "$kw" "$kc" $((kp / 1024)) "$3" "$rw" "$rc" $((rp / 1024))
  printf '%-6s ratio %s wall, %s cpu (target <= 1.2); kestrix peak %d MB (target < 64)\n' "$1" \
    "$(awk "BEGIN{printf \"%.2f\", $kw / $rw}")" "$(awk "BEGIN{printf \"%.2f\", $kc / $rc}")" \
    $((kp / 1024))
}

# Both sides write what they decode to a file in the same folder.
brotli_figures=$(compare 3 "brotli -d -c '$work/Build.data.br' > '$work/plain.out'" \
  "$kestrix" list "$work/Build.data.br" -i 0)
gzip_figures=$(compare 3 "gzip -d -c '$work/Build.data.gz' > '$work/plain.out'" \
  "$kestrix" list "$work/Build.data.gz" -i 0)
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
report brotli "$brotli_figures" "brotli -d"
report gzip "$gzip_figures" "gzip -d"
