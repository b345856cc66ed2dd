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
# Wine runs the Windows DLL in the end-to-end tests. The 32-bit Wine loader
# (package wine32, architecture i386) needs a kernel with 32-bit programs
# enabled; where it is installed and can run, the 32-bit Wine tests run too.
wine_packages=(wine wine64)

missing=()
for p in "${packages[@]}" "${wine_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root (sudo)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
echo "install-deps: installed ${missing[*]}"
