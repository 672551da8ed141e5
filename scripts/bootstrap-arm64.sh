#!/usr/bin/env bash
# Installs what the ARM64 stage needs on top of scripts/bootstrap.sh: the
# aarch64 cross compilers, qemu-user to run the tests, and the kit's
# development packages for arm64 from Debian's multiarch archive. Quick and
# silent when everything is there already.
#
#   scripts/bootstrap-arm64.sh [UNPACK_ROOT]
#
# libsimdjson-dev cannot be installed for two architectures at once (its
# amd64 and arm64 packages conflict), and the host build needs the amd64 one.
# Its arm64 package is therefore unpacked into UNPACK_ROOT (default
# build/arm64-root), which the toolchain file searches before the system.
set -euo pipefail

unpack_root=${1:-build/arm64-root}
packages=(
  crossbuild-essential-arm64 qemu-user
  libcurl4-openssl-dev:arm64 libplist-dev:arm64 libicu-dev:arm64 libssl-dev:arm64
  libsqlite3-dev:arm64 libsimdjson14:arm64 libgtest-dev:arm64 libgmock-dev:arm64
  libcpp-httplib-dev:arm64
  # Architecture-independent: the host's own package serves both builds.
  nlohmann-json3-dev
)

sudo=()
if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap-arm64: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    "${sudo[@]}" dpkg --add-architecture arm64
  fi
  "${sudo[@]}" apt-get update -q
  "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The unpacked development files must match the installed arm64 library.
version=$(dpkg-query -W -f='${Version}' libsimdjson14:arm64)
stamp=$unpack_root/libsimdjson-dev.version
if [ "$(cat "$stamp" 2>/dev/null)" != "$version" ]; then
  echo "bootstrap-arm64: unpacking libsimdjson-dev:arm64 $version into $unpack_root"
  rm -rf "$unpack_root"
  mkdir -p "$unpack_root"
  # As root, apt's download user could not write here.
  sandbox=()
  if [ "$(id -u)" -eq 0 ]; then sandbox=(-o APT::Sandbox::User=root); fi
  (cd "$unpack_root" && apt-get download -q "${sandbox[@]}" "libsimdjson-dev:arm64=$version")
  dpkg-deb -x "$unpack_root"/libsimdjson-dev_*_arm64.deb "$unpack_root"
  # The package's link name and CMake files point at the library beside them.
  for library in /usr/lib/aarch64-linux-gnu/libsimdjson.so.*; do
    ln -sf "$library" "$unpack_root/usr/lib/aarch64-linux-gnu/"
  done
  echo "$version" >"$stamp"
fi
