#!/usr/bin/env bash
# Installs the Debian packages a make target needs. Idempotent: checks each
# package first and installs only what is missing.
#   install-deps.sh run    building and running the show and the pack maker
#   install-deps.sh deb    that, and making the Debian package
#   install-deps.sh [all]  everything: tests, benchmarks, fuzzers, tools
#   install-deps.sh list GROUP   prints a group's packages (run, deb, test)
set -euo pipefail

run_packages=(
  build-essential cmake pkg-config
  libsdl2-dev libx11-dev libxrandr-dev libxrender-dev libpng-dev zlib1g-dev libminizip-dev
  libmpg123-dev libopenmpt-dev libsoxr-dev
  libmp3lame-dev libfreetype-dev fonts-dejavu-core
)
deb_packages=(dpkg-dev file lintian desktop-file-utils devscripts appstream diffoscope-minimal)
test_packages=(
  clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  libyuv-dev libpixman-1-dev
  clang-14 libclang-rt-14-dev
  xvfb x11-apps x11-utils xdotool imagemagick libx11-dev x11-xserver-utils openbox
  sway grim wtype
  pulseaudio pulseaudio-utils stress-ng
  pipewire pipewire-bin pipewire-pulse wireplumber dbus
  sox ffmpeg
  stress-ng
)

if [ "${1:-}" = list ]; then
  case "${2:-}" in
    run) printf '%s\n' "${run_packages[@]}" ;;
    deb) printf '%s\n' "${deb_packages[@]}" ;;
    test) printf '%s\n' "${test_packages[@]}" ;;
    *) echo "usage: $0 list run|deb|test" >&2; exit 2 ;;
  esac
  exit 0
fi

case "${1:-all}" in
  run) packages=("${run_packages[@]}") ;;
  deb) packages=("${run_packages[@]}" "${deb_packages[@]}") ;;
  all) packages=("${run_packages[@]}" "${deb_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [run|deb|all] | list run|deb|test" >&2; exit 2 ;;
esac

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
