#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# What a cross build for TRIPLET needs: Debian's cross compiler, qemu-user,
# the GoogleTest sources, the target's curses headers and static libraries
# unpacked under build/cross/TRIPLET-root, and for i386 Debian's own i386 C
# and C++ libraries to run under qemu (cmake/toolchains/i686-linux-gnu.cmake
# says why). Installs what is
# missing when it runs as root with apt-get; otherwise, or when an install
# fails, says what is missing and exits with 77.
#   cross-prereqs.sh TRIPLET      (i686-linux-gnu or s390x-linux-gnu)
set -uo pipefail
cd "$(dirname "$0")/.."
triplet=$1
case $triplet in
  i686-linux-gnu) arch=i386 qemu=qemu-i386 ;;
  s390x-linux-gnu) arch=s390x qemu=qemu-s390x ;;
  *) echo "cross-prereqs: unknown target $triplet" >&2; exit 2 ;;
esac
root=build/cross/$triplet-root
can_install() { [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; }
missing() {
  echo "cross $triplet: skipped: $1 is missing ($2)"
  exit 77
}

# Refreshes the package lists. A mirror caught mid-sync fails a few of its
# indexes and apt-get update says so, but the others are refreshed: whether
# the packages can be had is for the install to tell.
update_package_lists() {
  apt-get update -qq >/dev/null 2>&1 || true
}

# apt-get knows the target's packages once its architecture is added.
add_architecture() {
  dpkg --print-foreign-architectures | grep -qx "$arch" && return 0
  dpkg --add-architecture "$arch" && update_package_lists
}

packages=()
command -v "$triplet-g++" >/dev/null || packages+=("g++-$triplet")
command -v "$qemu" >/dev/null || packages+=(qemu-user)
[ -f /usr/src/googletest/CMakeLists.txt ] || packages+=(googletest)
if [ "$arch" = i386 ] &&
  { [ ! -e /lib/ld-linux.so.2 ] || [ ! -e /usr/lib/i386-linux-gnu/libstdc++.so.6 ]; }; then
  packages+=(libc6:i386 libstdc++6:i386)
fi
if [ ${#packages[@]} -gt 0 ]; then
  can_install || missing "${packages[*]}" "apt-get install ${packages[*]}"
  { update_package_lists && add_architecture && apt-get install -y -qq "${packages[@]}"; } \
    >/dev/null 2>&1 || missing "${packages[*]}" "apt-get install ${packages[*]} failed"
fi

# The target's curses: its Debian package unpacked, not installed (its
# headers would clash with the cross compiler's C library).
if [ ! -f "$root/usr/include/curses.h" ]; then
  can_install || missing "libncurses-dev:$arch" "unpack it into $root"
  download=$(mktemp -d)
  trap 'rm -rf "$download"' EXIT
  chmod 755 "$download"  # apt downloads as its own user
  { add_architecture && (cd "$download" && apt-get download -qq "libncurses-dev:$arch"); } \
    >/dev/null 2>&1 || missing "libncurses-dev:$arch" "apt-get download failed"
  mkdir -p "$root"
  dpkg -x "$download"/libncurses-dev_*.deb "$root" || missing "libncurses-dev:$arch" "dpkg -x failed"
fi
exit 0
