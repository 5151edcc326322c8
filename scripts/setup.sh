#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the checks need, and nothing else.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-svg-dev libgl-dev
  libpugixml-dev libusb-1.0-0-dev libssl-dev nlohmann-json3-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  xvfb xauth xdotool
  iproute2
  binutils srecord
  umockdev libumockdev-dev
  dpkg-dev man-db groff-base desktop-file-utils strace
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
