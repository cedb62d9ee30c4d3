#!/usr/bin/env bash
# Builds the static libraries the Windows build links, from Debian's own source packages, into
# build-windows/deps (or $1). Each library is built once: a library whose archive is there is
# skipped, so a second run costs nothing. The toolchain and wine come from Debian's packages.
set -euo pipefail
cd "$(dirname "$0")/.."
deps=$(realpath -m "${1:-build-windows/deps}")
host=x86_64-w64-mingw32
prefix="$deps/prefix"
mkdir -p "$deps/src" "$prefix/lib/pkgconfig" "$prefix/include" "$deps/licenses"

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

packages=(g++-mingw-w64-x86-64-posix wine64 wine libz-mingw-w64-dev dpkg-dev googletest zip)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# apt-get source needs a deb-src line for the machine's own suite; one is written only when no
# source line exists at all.
if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "Adding a deb-src line for $suite"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$suite" "$suite" | $sudo_cmd tee /etc/apt/sources.list.d/kestrix-deb-src.sources >/dev/null
  $sudo_cmd apt-get update -qq
fi

CC="$host-gcc-posix"
CXX="$host-g++-posix"
AR="$host-ar"
CFLAGS="-O2 -DNDEBUG"
jobs=2

# Unpacks a source package once; prints the folder.
fetch() {
  local pkg=$1
  local dir
  dir=$(find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name "$pkg-*" | head -n 1)
  if [ -z "$dir" ]; then
    (cd "$deps/src" && apt-get source -qq "$pkg" >/dev/null 2>&1) || {
      echo "apt-get source $pkg failed" >&2
      exit 1
    }
    dir=$(find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name "$pkg-*" | head -n 1)
  fi
  echo "$dir"
}

# Compiles the listed sources (relative to $1) into lib$2.a; the remaining words are flags.
compile_lib() {
  local root=$1 name=$2
  shift 2
  local flags=() sources=()
  for w in "$@"; do
    case "$w" in -*) flags+=("$w") ;; *) sources+=("$w") ;; esac
  done
  local obj="$deps/obj/$name"
  rm -rf "$obj" && mkdir -p "$obj"
  local i=0
  for s in "${sources[@]}"; do
    local compiler=$CC
    [[ $s == *.cpp || $s == *.cc ]] && compiler=$CXX
    echo "$compiler $CFLAGS ${flags[*]} -c $root/$s -o $obj/$i.o"
    i=$((i + 1))
  done | xargs -P "$jobs" -I{} sh -c '{}' || { echo "building lib$name failed" >&2; exit 1; }
  rm -f "$prefix/lib/lib$name.a"
  "$AR" rcs "$prefix/lib/lib$name.a" "$obj"/*.o
}

pc() {  # name, version, libs
  printf 'prefix=%s\nName: %s\nDescription: %s\nVersion: %s\nCflags: -I${prefix}/include\nLibs: -L${prefix}/lib %s\n' \
    "$prefix" "$1" "$1" "$2" "$3" >"$prefix/lib/pkgconfig/$1.pc"
}

license() {  # name, source folder
  cp "$2/debian/copyright" "$deps/licenses/$1.txt"
}

built() { [ -f "$prefix/lib/lib$1.a" ]; }

if ! built lzma; then
  d=$(fetch xz-utils)
  mkdir -p "$d/kestrix-config"
  cat >"$d/kestrix-config/config.h" <<'H'
#define HAVE_CHECK_CRC32 1
#define HAVE_CHECK_CRC64 1
#define HAVE_CHECK_SHA256 1
#define HAVE_DECODERS 1
#define HAVE_DECODER_LZMA1 1
#define HAVE_DECODER_LZMA2 1
#define HAVE_DECODER_DELTA 1
#define HAVE_DECODER_X86 1
#define HAVE_ENCODERS 1
#define HAVE_ENCODER_LZMA1 1
#define HAVE_ENCODER_LZMA2 1
#define HAVE_ENCODER_DELTA 1
#define HAVE_ENCODER_X86 1
#define HAVE_MF_BT2 1
#define HAVE_MF_BT3 1
#define HAVE_MF_BT4 1
#define HAVE_MF_HC3 1
#define HAVE_MF_HC4 1
#define HAVE_STDBOOL_H 1
#define HAVE_STDINT_H 1
#define HAVE_INTTYPES_H 1
#define HAVE__BOOL 1
#define MYTHREAD_VISTA 1
#define SIZEOF_SIZE_T 8
#define TUKLIB_FAST_UNALIGNED_ACCESS 1
#define HAVE_VISIBILITY 0
#define PACKAGE_NAME "XZ Utils"
#define PACKAGE_URL "https://tukaani.org/xz/"
H
  l=src/liblzma
  srcs=$(cd "$d" && ls $l/common/*.c $l/check/{check,crc32_fast,crc32_table,crc64_fast,crc64_table,sha256}.c \
    $l/lz/*.c $l/lzma/{fastpos_table,lzma2_decoder,lzma2_encoder,lzma_decoder,lzma_encoder,lzma_encoder_optimum_fast,lzma_encoder_optimum_normal,lzma_encoder_presets,lzma_encoder_optimum_normal}.c \
    $l/rangecoder/price_table.c $l/delta/*.c $l/simple/{simple_coder,simple_decoder,simple_encoder,x86}.c \
    src/common/tuklib_physmem.c src/common/tuklib_cpucores.c | sort -u \
    | grep -v -E 'common/(stream_encoder_mt|outqueue)\.c$')
  # shellcheck disable=SC2086
  compile_lib "$d" lzma -DHAVE_CONFIG_H -I"$d/kestrix-config" -DLZMA_API_STATIC \
    -I"$d/$l/api" -I"$d/$l/common" -I"$d/$l/check" -I"$d/$l/lz" -I"$d/$l/rangecoder" \
    -I"$d/$l/lzma" -I"$d/$l/delta" -I"$d/$l/simple" -I"$d/src/common" $srcs
  cp -r "$d/$l/api/lzma.h" "$d/$l/api/lzma" "$prefix/include/"
  pc liblzma "$(cd "$d" && dpkg-parsechangelog -S Version)" -llzma
  sed -i 's/^Cflags:.*/& -DLZMA_API_STATIC/' "$prefix/lib/pkgconfig/liblzma.pc"
  license liblzma "$d"
fi

version_of() { (cd "$1" && dpkg-parsechangelog -S Version); }

if ! built lz4; then
  d=$(fetch lz4)
  # lz4 carries its own copy of xxHash: a prefix keeps it apart from libxxhash in one program.
  compile_lib "$d/lib" lz4 -DXXH_NAMESPACE=LZ4_ lz4.c lz4hc.c lz4frame.c xxhash.c
  cp "$d"/lib/{lz4.h,lz4hc.h,lz4frame.h} "$prefix/include/"
  pc liblz4 "$(version_of "$d")" -llz4
  license liblz4 "$d"
fi

if ! built xxhash; then
  d=$(fetch xxhash)
  compile_lib "$d" xxhash xxhash.c
  cp "$d"/{xxhash.h,xxh3.h} "$prefix/include/"
  pc libxxhash "$(version_of "$d")" -lxxhash
  license libxxhash "$d"
fi

if ! built brotlicommon; then
  d=$(fetch brotli)
  inc="-I$d/c/include"
  compile_lib "$d/c" brotlicommon "$inc" $(cd "$d/c" && ls common/*.c)
  compile_lib "$d/c" brotlidec "$inc" $(cd "$d/c" && ls dec/*.c)
  compile_lib "$d/c" brotlienc "$inc" $(cd "$d/c" && ls enc/*.c)
  cp -r "$d/c/include/brotli" "$prefix/include/"
  v=$(version_of "$d")
  pc libbrotlicommon "$v" -lbrotlicommon
  pc libbrotlidec "$v" "-lbrotlidec -lbrotlicommon"
  pc libbrotlienc "$v" "-lbrotlienc -lbrotlicommon"
  license libbrotli "$d"
fi

if ! built png; then
  d=$(fetch libpng1.6)
  cp "$d/scripts/pnglibconf.h.prebuilt" "$d/pnglibconf.h"
  compile_lib "$d" png -DPNG_ARM_NEON_OPT=0 -DPNG_INTEL_SSE_OPT=0 png.c pngerror.c pngget.c \
    pngmem.c pngpread.c pngread.c pngrio.c pngrtran.c pngrutil.c pngset.c pngtrans.c pngwio.c \
    pngwrite.c pngwtran.c pngwutil.c
  cp "$d"/{png.h,pngconf.h,pnglibconf.h} "$prefix/include/"
  pc libpng "$(version_of "$d")" "-lpng -lz"
  license libpng "$d"
fi

if ! built squish; then
  d=$(fetch libsquish)
  compile_lib "$d" squish alpha.cpp clusterfit.cpp colourblock.cpp colourfit.cpp colourset.cpp \
    maths.cpp rangefit.cpp singlecolourfit.cpp squish.cpp
  cp "$d/squish.h" "$prefix/include/"
  license libsquish "$d"
fi

if ! built ETC1; then
  # Debian's diff for this package is not served, but its original tarball holds the codec.
  tarball="$deps/src/android-platform-frameworks-native_"*.orig.tar.gz
  # shellcheck disable=SC2086
  if ! ls $tarball >/dev/null 2>&1; then
    (cd "$deps/src" && apt-get source -qq android-platform-frameworks-native >/dev/null 2>&1) || true
  fi
  d="$deps/src/etc1"
  mkdir -p "$d"
  # shellcheck disable=SC2086
  tar -xzf $tarball -C "$d" opengl/libs/ETC1/etc1.cpp opengl/include/ETC1/etc1.h NOTICE
  compile_lib "$d" ETC1 "-I$d/opengl/include" opengl/libs/ETC1/etc1.cpp
  mkdir -p "$prefix/include/ETC1"
  cp "$d/opengl/include/ETC1/etc1.h" "$prefix/include/ETC1/"
  cp "$d/NOTICE" "$deps/licenses/libetc1.txt"
fi

# zlib comes built from Debian's mingw package; its licence text too.
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$deps/licenses/zlib.txt"
echo "Windows libraries ready in $prefix"
