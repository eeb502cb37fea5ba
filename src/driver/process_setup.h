// SPDX-License-Identifier: MIT
// What the process settles before it touches any file.
#pragma once

namespace korrin {

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// neither the report nor the list can take one of them. Ignores SIGPIPE and
// SIGXFSZ: a closed progress pipe or a file-size limit becomes a failed
// write, not the end of the run. False when a closed descriptor cannot be
// filled.
bool PrepareProcess();

}  // namespace korrin
