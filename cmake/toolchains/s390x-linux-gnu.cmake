# SPDX-License-Identifier: MIT
# 64-bit IBM Z Linux, big-endian: Debian's g++-s390x-linux-gnu, run by qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(KORRIN_TRIPLET s390x-linux-gnu)
set(KORRIN_QEMU qemu-s390x)
set(KORRIN_MULTIARCH s390x-linux-gnu)
set(KORRIN_QEMU_ROOT /usr/s390x-linux-gnu)  # the cross compiler's C and C++ libraries
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
