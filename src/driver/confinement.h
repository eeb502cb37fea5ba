// SPDX-License-Identifier: MIT
// What the process gives up once the files it writes are open: a parser of
// files that other systems wrote must not be able to turn korrin against
// the machine it runs on.
#pragma once

namespace korrin {

// The version of Linux's Landlock interface that the kernel offers, or 0
// when it has none or the call is refused (qemu-user, an older valgrind, a
// sandbox).
int LandlockVersion();

// Takes from this thread, and the threads it starts from now on, the rights
// a run never uses: to create, write, truncate, rename, link or remove a
// file through a path, to run a program, and, as far as the kernel can
// tell them apart, to bind or connect TCP, signal other processes and reach
// abstract UNIX sockets outside the run. Reading stays allowed everywhere,
// and descriptors already open keep what they allow. Does nothing when
// KORRIN_NO_CONFINEMENT is set and not empty, or when the kernel cannot.
void ConfineTheRun();

}  // namespace korrin
