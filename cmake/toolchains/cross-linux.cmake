# SPDX-License-Identifier: MIT
# What every cross build for Linux shares; the toolchain file of a target
# sets KORRIN_TRIPLET (the GNU triplet of its Debian cross compiler) and
# KORRIN_QEMU (the qemu-user program that runs its binaries),
# KORRIN_QEMU_ROOT (where qemu finds the target's C library at run time)
# and KORRIN_MULTIARCH (Debian's name for its library folder) first.
#
# The curses headers and static libraries of the target are taken from
# KORRIN_CROSS_ROOT (default: build/cross/<triplet>-root), where
# tools/cross-prereqs.sh unpacks the target's Debian packages. Binaries are
# linked with static curses, so that qemu-user needs only the target's C
# and C++ libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${KORRIN_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KORRIN_TRIPLET}-g++)

if(NOT KORRIN_CROSS_ROOT)
  if(DEFINED ENV{KORRIN_CROSS_ROOT})
    set(KORRIN_CROSS_ROOT $ENV{KORRIN_CROSS_ROOT})
  else()
    get_filename_component(KORRIN_CROSS_ROOT
      "${CMAKE_CURRENT_LIST_DIR}/../../build/cross/${KORRIN_TRIPLET}-root" ABSOLUTE)
  endif()
endif()
# Try-compiles of CMake run in fresh projects: pass the setting on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORRIN_CROSS_ROOT)

set(CMAKE_FIND_ROOT_PATH /usr/${KORRIN_TRIPLET} ${KORRIN_CROSS_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(KORRIN_CURSES_INCLUDE_DIRS ${KORRIN_CROSS_ROOT}/usr/include)
set(KORRIN_CURSES_LIBRARIES
    ${KORRIN_CROSS_ROOT}/usr/lib/${KORRIN_MULTIARCH}/libncurses.a
    ${KORRIN_CROSS_ROOT}/usr/lib/${KORRIN_MULTIARCH}/libtinfo.a)

set(CMAKE_CROSSCOMPILING_EMULATOR ${KORRIN_QEMU} -L ${KORRIN_QEMU_ROOT})
