# SPDX-License-Identifier: MIT
# 32-bit x86 Linux, little-endian: Debian's g++-i686-linux-gnu, run by qemu-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KORRIN_TRIPLET i686-linux-gnu)
set(KORRIN_QEMU qemu-i386)
set(KORRIN_MULTIARCH i386-linux-gnu)
# At run time, Debian's i386 C and C++ libraries (libc6:i386,
# libstdc++6:i386): under qemu-i386 7.2 a fork never returns with the cross
# compiler's own copy of the C library.
set(KORRIN_QEMU_ROOT /)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
