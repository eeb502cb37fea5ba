// SPDX-License-Identifier: MIT
// How the file of one list line is read, ahead of its line's turn or when
// its turn comes, so that reading ahead gives what a run of one line at a
// time gives.
#pragma once

#include "reader/program_reader.h"

namespace korrin {

// The files the run itself writes: the report, and standard output and
// standard error when they are files. They are read only when their lines' turn comes.
class OwnFiles {
 public:
  void Add(const FileIdentity& file) { files_[count_++] = file; }
  bool Holds(const FileIdentity& file) const;

 private:
  FileIdentity files_[3];
  int count_ = 0;
};

// What the run's thread must still do with a line read ahead when it
// takes the line.
enum class AtTurn {
  Nothing,  // the line is read
  Read,     // read it now: the run writes its file, or it is a directory
  // Stop the workers for good, then read it and every line after it when
  // its turn comes: its meaning depends on the reading process, opening it
  // may act on other processes, or its open lacked what workers hold.
  ReadAlone,
};

enum class Reading { Ahead, AtItsTurn };

struct LineRead {
  ProgramScan scan;
  AtTurn at_turn = AtTurn::Nothing;  // Reading::Ahead: left for its line's turn
  bool lacked_resources = false;     // Reading::AtItsTurn: no descriptor or memory for it
};

// Reads the file at `path` for the program `name`, ahead (on any thread)
// or when its line's turn comes (on the run's).
using LineReader = LineRead (*)(const char* path, const char* name, Reading reading,
                                const ScanContext& context, const OwnFiles& own_files);

// The program's: OpenProgram ahead or when its line's turn comes, then ScanProgram.
LineRead ReadLineFile(const char* path, const char* name, Reading reading,
                      const ScanContext& context, const OwnFiles& own_files);

}  // namespace korrin
