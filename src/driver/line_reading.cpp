// SPDX-License-Identifier: MIT
#include "driver/line_reading.h"

#include <algorithm>
#include <iterator>

namespace korrin {
namespace {

// What an open ahead leaves for the run's thread, in the order of
// LeftForItsTurn.
constexpr AtTurn kAtTurnFor[] = {AtTurn::Nothing,   AtTurn::Read,      AtTurn::ReadAlone,
                                 AtTurn::ReadAlone, AtTurn::ReadAlone, AtTurn::Read};
static_assert(std::size(kAtTurnFor) == static_cast<size_t>(LeftForItsTurn::Unsure) + 1);

}  // namespace

bool OwnFiles::Holds(const FileIdentity& file) const {
  return std::find(files_, files_ + count_, file) != files_ + count_;
}

LineRead ReadLineFile(const char* path, const char* name, Reading reading,
                      const ScanContext& context, const OwnFiles& own_files) {
  LineRead read;
  if (reading == Reading::AtItsTurn) {
    OpenedProgram file = OpenProgram(path);
    read.lacked_resources = file.lacked_resources;
    read.scan = ScanProgram(file, name, context);
    return read;
  }
  OpenedProgram file = OpenProgram(path, Opening::Ahead);
  read.at_turn = kAtTurnFor[static_cast<int>(file.left)];
  if (file.fd >= 0 && own_files.Holds(file.identity)) {
    CloseProgram(file);
    read.at_turn = AtTurn::Read;
  }
  if (read.at_turn == AtTurn::Nothing) read.scan = ScanProgram(file, name, context);
  return read;
}

}  // namespace korrin
