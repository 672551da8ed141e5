#!/usr/bin/env bash
# Installs the Debian packages this project needs that are not installed yet.
# Uses apt-get as root, sudo otherwise; nothing comes from anywhere else.
set -euo pipefail

packages=(
  cmake make g++ pkg-config ca-certificates openssl python3 python3-h2
  libcurl4-openssl-dev nlohmann-json3-dev libsimdjson-dev libplist-dev libicu-dev libcpp-httplib-dev libssl-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev nginx
  clang libclang-rt-14-dev llvm
  clang-format clang-tidy doxygen dpkg-dev file
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
