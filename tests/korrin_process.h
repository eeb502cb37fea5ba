// SPDX-License-Identifier: MIT
// Runs the built korrin in a child process and collects what it leaves.
#pragma once

#include <sys/resource.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korrin_test {

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when killed or timed out
  bool timed_out = false;
  double first_output_seconds = -1;  // from the start to the first byte on standard output
};

struct Invocation {
  std::vector<std::string> args;    // argv[1..]
  std::optional<std::string> list;  // LIST, unset when empty
  std::string cwd = ".";
  std::string argv0 = "korrin";
  int timeout_seconds = 60;
  std::vector<std::string> env = {};    // NAME=VALUE, added to the environment
  std::function<void()> in_child = {};  // runs in the child just before korrin starts
};

// The environment that loads the fault-injection library with `faults`
// (see fault_shim.cpp) into korrin.
std::vector<std::string> WithFaults(const std::string& faults);

// For `in_child`: korrin may then run on one processor only.
void PinToOneProcessor();

// For `in_child`: both limits of `resource` (RLIMIT_...) set to `value`.
void Limit(int resource, rlim_t value);

Outcome RunKorrin(const Invocation& inv);

// A run of korrin and the run date its report carries, in the language
// asked for. A run across midnight is made again, so that the date is
// certain.
struct DatedOutcome {
  Outcome outcome;
  std::string date;
};
DatedOutcome RunKorrinOnOneDay(const Invocation& inv, bool french);

// What a report holds, read back from its text.
struct ReportContents {
  std::vector<std::string> details;  // the detail lines, each without its control
  int pages = 0;                     // title lines
  long long files = -1;              // the count line's number; -1 without one
  long long size = -1;               // the size line's number; -1 without one
};
ReportContents ReadReport(const std::string& text);

// The detail lines of `contents` whose name column holds `name`.
int DetailsNamed(const ReportContents& contents, const std::string& name);

// True when the tests run under valgrind (make memcheck), which cannot pass
// korrin the program name the test chose.
bool UnderValgrind();

// True in the AddressSanitizer and ThreadSanitizer builds, whose runtimes
// reserve address space and descriptors of their own.
bool SanitizedBuild();

// True when korrin runs under an emulator (a cross build under qemu-user),
// which has descriptors, memory, a stack and a program name of its own.
bool UnderEmulation();

// A fresh directory under the system's temporary directory, removed at the
// end of its scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool Exists(const std::string& path);

// A program whose block is found in its first chunk, named A: 267 bytes.
extern const std::string kSmallProgram;

// A program of `size` bytes named X whose block starts at `block_at`, past
// the first reads when that is far in.
std::string ProgramWithBlockAt(size_t size, size_t block_at);

// `text`, `times` times over.
std::string Repeat(const std::string& text, int times);

// A title line of the report: its control, `blanks` blanks, the run date,
// then `rest` (the page). Built by appending, which also keeps GCC 12's
// -Wrestrict false positive on `"x" + std::string` out of optimized builds.
std::string TitleLine(const std::string& control, int blanks, const std::string& date,
                      const std::string& rest);

// Puts `date` where golden reports hold the placeholder "@DATE@@@@@".
std::string WithDate(std::string golden, const std::string& date);

}  // namespace korrin_test
