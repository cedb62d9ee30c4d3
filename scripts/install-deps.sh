#!/usr/bin/env bash
# Installs the Debian packages Kestrix needs to build and test, when any is missing.
set -euo pipefail
packages=(
  g++ cmake ninja-build pkg-config git
  liblzma-dev liblz4-dev libxxhash-dev zlib1g-dev libbrotli-dev brotli libgtest-dev qt6-base-dev
  qt6-multimedia-dev libvorbis-dev
  libpng-dev libsquish-dev libastcenc-dev android-libetc1-dev
  imagemagick python3-pil vorbis-tools assimp-utils lz4 xz-utils time xvfb xauth
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
