#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with. Idempotent:
# returns at once when everything is present. Uses sudo when not root.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  libpixman-1-dev libcairo2-dev libpango1.0-dev
  libjpeg62-turbo-dev libpng-dev libwebp-dev libgif-dev libtiff-dev libexif-dev
  libminizip-dev zlib1g-dev libstb-dev
  libtbb-dev libcli11-dev libfmt-dev libgtest-dev libbenchmark-dev
  qt6-base-dev qt6-image-formats-plugins
  fonts-liberation2 fonts-dejavu-core
  xvfb xauth
)
# Extra groups: "bench" adds the peers the benchmarks compare against,
# "fuzz" the compiler runtime for fuzzing and sanitizers.
for group in "$@"; do
  case "$group" in
    bench) PACKAGES+=(libopencv-dev libjpeg-turbo-progs imagemagick bc) ;;
    fuzz) PACKAGES+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
