#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# Usage: scripts/ensure-deps.sh build|test
set -euo pipefail

build_packages=(cmake ninja-build g++ pkg-config qt6-base-dev libssl-dev libgmime-3.0-dev
  libcurl4-openssl-dev libcurl4 fonts-liberation)
test_packages=(googletest libgtest-dev libgmock-dev python3 python3-aiosmtpd python3-django python3-yaml python3-jsonschema python3-websocket swaks
  libnet-ssleay-perl curl openssl nodejs dovecot-pop3d clang clang-format-14 clang-tidy-14 libclang-rt-14-dev dpkg-dev desktop-file-utils appstream
  xvfb dbus-daemon dunst at-spi2-core python3-pyatspi xclip chromium)

packages=("${build_packages[@]}")
if [[ "${1:-build}" == test ]]; then
  packages+=("${test_packages[@]}")
  # Some Node.js builds carry their own npm, which Debian's npm package would conflict with.
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
# Debian packs npm apart from nodejs; other builds of nodejs bring their own.
if [[ "${1:-build}" == test ]] && ! command -v npm >/dev/null; then
  missing+=(npm)
fi
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root, or install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
