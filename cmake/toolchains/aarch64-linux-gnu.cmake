# Cross-builds the kit for 64-bit ARM Linux with Debian's cross compilers
# (crossbuild-essential-arm64) against the arm64 development packages of
# Debian's multiarch archive, and runs what the build and ctest start under
# qemu-user. scripts/bootstrap-arm64.sh installs all of it.
#
#   cmake -S . -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
#
# ORBISGROVE_CROSS_EXTRA_ROOTS (cache or environment variable, a list) names
# directories laid out like / that are searched first: arm64 packages that
# cannot be installed beside the host's are unpacked there.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ORBISGROVE_CROSS_TRIPLET aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${ORBISGROVE_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ORBISGROVE_CROSS_TRIPLET}-g++)
# GCC 12 for aarch64 inlines libstdc++'s vector and shared_ptr code far
# enough to warn of a null dereference inside shared_ptr's destructor on a
# path that cannot be taken (copying a vector of shared_ptr); x86-64 builds
# do not see it. It stays a warning here, so -Werror does not stop the build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-error=null-dereference")

if(NOT DEFINED ORBISGROVE_CROSS_EXTRA_ROOTS AND DEFINED ENV{ORBISGROVE_CROSS_EXTRA_ROOTS})
  set(ORBISGROVE_CROSS_EXTRA_ROOTS "$ENV{ORBISGROVE_CROSS_EXTRA_ROOTS}")
endif()
set(ORBISGROVE_CROSS_EXTRA_ROOTS "${ORBISGROVE_CROSS_EXTRA_ROOTS}"
    CACHE STRING "Directories laid out like / with arm64 files, searched before the system")
# try_compile projects read this file again and need the same roots.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORBISGROVE_CROSS_EXTRA_ROOTS)

# Multiarch keeps the arm64 libraries, CMake packages and pkg-config files
# under /usr/lib/aarch64-linux-gnu of the host's own root; the cross
# toolchain's C library lives under /usr/aarch64-linux-gnu. The host's
# x86-64 files sit in directories that CMake never searches for aarch64.
set(CMAKE_FIND_ROOT_PATH ${ORBISGROVE_CROSS_EXTRA_ROOTS} /usr/${ORBISGROVE_CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the arm64 .pc files only (and the architecture-independent ones).
set(_pkg_config_dirs "")
foreach(_root IN LISTS ORBISGROVE_CROSS_EXTRA_ROOTS)
  list(APPEND _pkg_config_dirs ${_root}/usr/lib/${ORBISGROVE_CROSS_TRIPLET}/pkgconfig)
endforeach()
list(APPEND _pkg_config_dirs /usr/lib/${ORBISGROVE_CROSS_TRIPLET}/pkgconfig /usr/share/pkgconfig)
list(JOIN _pkg_config_dirs ":" _pkg_config_libdir)
set(ENV{PKG_CONFIG_LIBDIR} "${_pkg_config_libdir}")

# Test discovery and ctest run the aarch64 programs through qemu-user. They
# load the arm64 C library that the multiarch packages install into the
# host's own root (libc6:arm64, which the libraries above were built
# against), hence -L /: the cross toolchain's copy under
# /usr/aarch64-linux-gnu is another build of glibc, and its loader with the
# multiarch libc.so.6 hangs at the first new thread. No binfmt_misc entry is
# needed.
find_program(ORBISGROVE_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static)
if(ORBISGROVE_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBISGROVE_QEMU_AARCH64} -L /)
endif()
