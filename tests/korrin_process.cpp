// SPDX-License-Identifier: MIT
#include "korrin_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "driver/run_date.h"

namespace korrin_test {

bool UnderValgrind() {
  return std::getenv("KORRIN_TEST_UNDER_VALGRIND") != nullptr;
}

bool SanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  return true;
#endif
#endif
  return false;
}

std::vector<std::string> Emulator() {
  std::vector<std::string> words;
  std::istringstream text(KORRIN_EMULATOR);
  for (std::string word; text >> word;) words.push_back(word);
  return words;
}

bool UnderEmulation() {
  return !Emulator().empty();
}

Outcome RunKorrin(const Invocation& inv) {
  int out_pipe[2], err_pipe[2];
  // Close-on-exec: korrin inherits only the two ends made its standard streams.
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  // Under qemu-user: "-0" gives korrin its program name, and a preloaded
  // library goes to korrin ("-E"), not to qemu itself.
  std::vector<std::string> words = Emulator();
  std::vector<std::string> env;
  for (const std::string& variable : inv.env) {
    if (!words.empty() && variable.starts_with("LD_PRELOAD=")) {
      words.insert(words.end(), {"-E", variable});
    } else {
      env.push_back(variable);
    }
  }
  if (!words.empty()) words.insert(words.end(), {"-0", inv.argv0, KORRIN_BINARY});
  const char* const program = words.empty() ? KORRIN_BINARY : words[0].c_str();
  std::vector<const char*> argv;
  argv.reserve(words.size() + inv.args.size() + 2);
  for (const std::string& word : words) argv.push_back(word.c_str());
  if (words.empty()) argv.push_back(inv.argv0.c_str());
  for (const std::string& a : inv.args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (chdir(inv.cwd.c_str()) != 0) _exit(127);
    if (inv.list) {
      setenv("LIST", inv.list->c_str(), 1);
    } else {
      unsetenv("LIST");
    }
    for (const std::string& variable : env) putenv(const_cast<char*>(variable.c_str()));
    if (inv.in_child) inv.in_child();
    // Whatever the test process inherited (from ctest, a shell) stays out.
    close_range(3, ~0U, 0);
    execvp(program, const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  Outcome o;
  const auto start = std::chrono::steady_clock::now();
  const auto deadline = start + std::chrono::seconds(inv.timeout_seconds);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&o.out, &o.err};
  int open_count = 2;
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      o.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buf[65536];
      const ssize_t r = read(fds[k].fd, buf, sizeof buf);
      if (r > 0) {
        if (k == 0 && o.out.empty()) {
          o.first_output_seconds =
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        sinks[k]->append(buf, static_cast<size_t>(r));
      } else {
        close(fds[k].fd);
        fds[k].fd = -1;
        --open_count;
      }
    }
  }
  for (const pollfd& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  if (UnderValgrind()) {  // valgrind hands korrin its full path as its name
    for (std::string* text : sinks) {
      for (size_t p = text->find(KORRIN_BINARY); p != std::string::npos;
           p = text->find(KORRIN_BINARY, p)) {
        text->replace(p, std::strlen(KORRIN_BINARY), inv.argv0);
      }
    }
  }
  o.status = !o.timed_out && WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return o;
}

std::vector<std::string> WithFaults(const std::string& faults) {
  return {"KORRIN_FAULTS=" + faults, std::string("LD_PRELOAD=") + KORRIN_FAULT_SHIM,
          // The shim comes before the sanitizer's runtime in a sanitized build.
          "ASAN_OPTIONS=verify_asan_link_order=0"};
}

void PinToOneProcessor() {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu() < 0 ? 0 : sched_getcpu(), &one);
  if (sched_setaffinity(0, sizeof one, &one) != 0) _exit(126);
}

void Limit(int resource, rlim_t value) {
  const rlimit limit{value, value};
  if (setrlimit(resource, &limit) != 0) _exit(126);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "korrin-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

namespace {

// The run date as korrin prints it now, in French or English.
std::string Today(bool french) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char out[korrin::kRunDateSize];
  korrin::FormatRunDate(local, french ? korrin::Language::French : korrin::Language::English, out);
  return out;
}

}  // namespace

DatedOutcome RunKorrinOnOneDay(const Invocation& inv, bool french) {
  for (;;) {
    const std::string before = Today(french);
    DatedOutcome dated{RunKorrin(inv), before};
    if (Today(french) == before) return dated;
  }
}

namespace {

// A title line: its control, 58 blanks or more, the run date, "Page" and the
// page number.
bool IsTitle(const std::string& line) {
  const size_t page = line.rfind(" Page ");
  if (line.empty() || std::string(" \f1").find(line[0]) == std::string::npos) return false;
  if (page == std::string::npos || line.find_first_not_of(' ', 1) < 59) return false;
  const size_t digits = line.find_first_not_of(' ', page + 6);
  return digits != std::string::npos &&
         line.find_first_not_of("0123456789", digits) == std::string::npos;
}

}  // namespace

ReportContents ReadReport(const std::string& text) {
  static const std::string kHeadings[] = {" I EXTERNAL I CRV ", " I NAME     I CODE ",
                                          " I NOM      I CODE ", " I EXTERNE  I CRV "};
  ReportContents contents;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const bool heading = std::any_of(std::begin(kHeadings), std::end(kHeadings),
                                     [&line](const std::string& h) { return line.starts_with(h); });
    if (line.starts_with(" I ") && !heading) contents.details.push_back(line.substr(1));
    if (IsTitle(line)) ++contents.pages;
    const size_t number = line.find(".: ");
    if (number != std::string::npos) {
      long long& field = contents.files < 0 ? contents.files : contents.size;
      field = std::stoll(line.substr(number + 3));
    }
  }
  return contents;
}

int DetailsNamed(const ReportContents& contents, const std::string& name) {
  std::string column = "I " + name;
  column.resize(10, ' ');
  column += " I";
  return static_cast<int>(
      std::count_if(contents.details.begin(), contents.details.end(),
                    [&column](const std::string& detail) { return detail.starts_with(column); }));
}

const std::string kSmallProgram = std::string(250, '.') + "WORKINGA 12345LIB";

std::string ProgramWithBlockAt(size_t size, size_t block_at) {
  std::string text(size, '.');
  text.replace(block_at, 14, "WORKINGX 12345");
  return text;
}

std::string Repeat(const std::string& text, int times) {
  std::string all;
  for (int k = 0; k < times; ++k) all += text;
  return all;
}

std::string TitleLine(const std::string& control, int blanks, const std::string& date,
                      const std::string& rest) {
  std::string line = control;
  line.append(static_cast<size_t>(blanks), ' ').append(date).append(rest);
  return line;
}

std::string WithDate(std::string golden, const std::string& date) {
  const std::string placeholder = "@DATE@@@@@";
  for (size_t p = golden.find(placeholder); p != std::string::npos; p = golden.find(placeholder)) {
    golden.replace(p, placeholder.size(), date);
  }
  return golden;
}

}  // namespace korrin_test
