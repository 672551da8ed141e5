#!/usr/bin/env bash
# Installs the Debian packages this project needs that are not installed yet,
# and makes the glibc locales the tests need. Uses apt-get and localedef as
# root, sudo otherwise; nothing comes from anywhere else.
set -euo pipefail

packages=(
  cmake make g++ pkg-config ca-certificates openssl python3
  libcurl4-openssl-dev liburiparser-dev nlohmann-json3-dev libsimdjson-dev libplist-dev libicu-dev libcpp-httplib-dev libssl-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev nginx
  clang libclang-rt-14-dev llvm
  clang-format clang-tidy doxygen dpkg-dev file locales
  openjdk-17-jdk-headless junit4 libhamcrest-java
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A locale with a decimal comma, so that the tests of locale-independent
# number reading run rather than skip.
for locale in de_DE.UTF-8; do
  if ! locale -a 2>/dev/null | grep -qix "${locale/UTF-8/utf8}"; then
    echo "bootstrap: making the locale $locale"
    "${sudo[@]}" localedef -i "${locale%%.*}" -f UTF-8 "$locale"
  fi
done
