#!/usr/bin/env bash
# Installs the Debian packages the build, tests, benchmarks and tools need.
# Idempotent: checks each package first and installs only what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libpng-dev zlib1g-dev libminizip-dev
  libmpg123-dev libopenmpt-dev libsoxr-dev
  libyuv-dev libpixman-1-dev
  libmp3lame-dev libfreetype-dev fonts-dejavu-core
  clang-14 libclang-rt-14-dev
  xvfb x11-apps x11-utils xdotool imagemagick libx11-dev x11-xserver-utils
  sway grim wtype
  sox ffmpeg
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
