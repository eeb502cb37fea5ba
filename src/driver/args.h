// The command line: destination file, option letters, help and usage.
#pragma once

#include <cstdio>
#include <string>

#include "driver/run_state.h"

namespace korrin {

struct CommandLine {
  std::string ArgPgm;   // program name as invoked
  std::string ArgDest;  // destination file
  int ArgTop = 0;       // destination-file arguments taken
  bool ArgOph = false;  // -h
};

// Exit statuses, and the status meaning the run goes on.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;  // a bad command line
constexpr int kExitFile = 4;   // a run file cannot be opened, read or written
constexpr int kContinue = -1;

// Reads and validates the whole command line, then gives the help if asked.
// Returns kContinue, or the exit status once its messages are written.
int ReadArgs(int argc, const char* const* argv, CommandLine& cl, RunState& run, FILE* out,
             FILE* err);

// Takes the letters of one argument that begins with '-'. Returns kContinue,
// or kExitUsage after reporting a letter outside the table.
int TestArg(const std::string& Arg, CommandLine& cl, RunState& run, FILE* err);

void UsageArg(const CommandLine& cl, FILE* err);
void HelpArg(const CommandLine& cl, const RunState& run, FILE* out, FILE* err);

}  // namespace korrin
