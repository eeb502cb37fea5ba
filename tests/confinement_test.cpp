// SPDX-License-Identifier: MIT
// Once its files are open, korrin cannot create a file, run a program or
// connect to a TCP port, and still reports as before; KORRIN_NO_CONFINEMENT
// gives those rights back. The fault library, preloaded, tries them from
// inside korrin (KORRIN_PROBE_REPORT).
#include "driver/confinement.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "korrin_process.h"

namespace korrin_test {
namespace {

// A TCP listener on 127.0.0.1, so that a connect let through succeeds.
struct Listener {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int port = -1;
  Listener() {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    if (bind(fd, generic, size) != 0 || listen(fd, 4) != 0) return;
    if (getsockname(fd, generic, &size) == 0) port = ntohs(address.sin_port);
  }
  ~Listener() { close(fd); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
};

// The probe's attempts, and the version of Landlock from which a confined
// korrin is refused each (EACCES).
struct Attempt {
  std::string name;
  int refused_from;
};
const Attempt kAttempts[] = {{"create", 1}, {"run", 1}, {"connect", 4}};

TEST(Confinement, RefusesWhatARunNeverDoesAndChangesNoOutput) {
  const int version = korrin::LandlockVersion();
  if (version == 0)
    GTEST_SKIP() << "no Landlock here (an old kernel, qemu-user, an older valgrind)";
  const Listener listener;
  ASSERT_GT(listener.port, 0);
  auto run = [&](const TempDir& dir, const std::vector<std::string>& env) {
    const DatedOutcome run = RunKorrinOnOneDay({.args = {dir / "report.txt"},
                                                .list = "examples/programs.lst",
                                                .cwd = KORRIN_SOURCE_DIR,
                                                .env = env},
                                               false);
    const std::string golden =
        ReadFile(std::string(KORRIN_SOURCE_DIR) + "/tests/golden/examples_en.txt");
    EXPECT_EQ(ReadFile(dir / "report.txt"), WithDate(golden, run.date));
    return run.outcome;
  };
  const TempDir plain_dir;
  const Outcome plain = run(plain_dir, {});
  for (const bool confined : {true, false}) {
    const TempDir dir;
    std::vector<std::string> env = WithFaults("");
    env.insert(env.end(),
               {"KORRIN_NO_CONFINEMENT=" + std::string(confined ? "" : "1"),
                "KORRIN_PROBE_REPORT=" + (dir / "probe"), "KORRIN_PROBE_DIR=" + dir.path(),
                "KORRIN_PROBE_PORT=" + std::to_string(listener.port)});
    const Outcome probed = run(dir, env);
    EXPECT_EQ(probed.out, plain.out);
    EXPECT_EQ(probed.err, plain.err);
    EXPECT_EQ(probed.status, plain.status);
    std::istringstream report(ReadFile(dir / "probe"));
    for (const Attempt& attempt : kAttempts) {
      std::string name;
      int error = -1;
      report >> name >> error;
      const bool refused = confined && version >= attempt.refused_from;
      EXPECT_EQ(name, attempt.name);
      EXPECT_EQ(error, refused ? EACCES : 0)
          << attempt.name << (confined ? ", confined" : ", not confined");
    }
  }
}

}  // namespace
}  // namespace korrin_test
