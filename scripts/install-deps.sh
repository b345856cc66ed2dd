#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Does nothing
# when everything is there; otherwise it must run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
)
# Wine runs the 32-bit Windows DLL in the end-to-end tests.
wine_packages=(wine wine32 wine64)

missing=()
for p in "${packages[@]}" "${wine_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p:amd64" 2>/dev/null | grep -q "install ok installed" &&
     ! dpkg-query -W -f='${Status}' "$p:i386" 2>/dev/null | grep -q "install ok installed" &&
     ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root (sudo)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: installed ${missing[*]}"
