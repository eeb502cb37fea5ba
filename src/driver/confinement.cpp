// SPDX-License-Identifier: MIT
#include "driver/confinement.h"

#if defined(__linux__)
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdlib>

#include "driver/landlock.h"
#endif

namespace korrin {
#if defined(__linux__)
namespace {

// What each version of the interface can deny that a run never does.
// Reading files and directories is never asked for, so it stays allowed
// everywhere, beneath any root.
struct Denial {
  int version;
  landlock::RulesetAttributes rights;
};
constexpr uint64_t kMakingAndChanging =
    landlock::kAccessFsExecute | landlock::kAccessFsWriteFile | landlock::kAccessFsRemoveDir |
    landlock::kAccessFsRemoveFile | landlock::kAccessFsMakeChar | landlock::kAccessFsMakeDir |
    landlock::kAccessFsMakeReg | landlock::kAccessFsMakeSock | landlock::kAccessFsMakeFifo |
    landlock::kAccessFsMakeBlock | landlock::kAccessFsMakeSym;
constexpr Denial kDenials[] = {
    {1, {kMakingAndChanging, 0, 0}},
    {2, {landlock::kAccessFsRefer, 0, 0}},
    // The one right with a cost: the kernel then checks every open along
    // the path up to the root, whether the file may later be truncated.
    {3, {landlock::kAccessFsTruncate, 0, 0}},
    {4, {0, landlock::kAccessNetBindTcp | landlock::kAccessNetConnectTcp, 0}},
    {5, {landlock::kAccessFsIoctlDev, 0, 0}},
    {6, {0, 0, landlock::kScopeAbstractUnixSocket | landlock::kScopeSignal}},
};

// The rights a kernel of interface `version` is asked to deny: only those
// it knows, or it refuses the whole ruleset.
landlock::RulesetAttributes DeniedBy(int version) {
  landlock::RulesetAttributes denied{};
  for (const Denial& denial : kDenials) {
    if (denial.version > version) break;
    denied.handled_access_fs |= denial.rights.handled_access_fs;
    denied.handled_access_net |= denial.rights.handled_access_net;
    denied.scoped |= denial.rights.scoped;
  }
  return denied;
}

// Closes the ruleset on every path out.
struct Ruleset {
  int fd;
  ~Ruleset() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

int LandlockVersion() {
  const long version =
      syscall(landlock::kCreateRulesetCall, nullptr, 0, landlock::kCreateRulesetVersion);
  return version > 0 ? static_cast<int>(version) : 0;
}

void ConfineTheRun() {
  const char* way_out = std::getenv("KORRIN_NO_CONFINEMENT");
  if (way_out != nullptr && way_out[0] != '\0') return;
  const int version = LandlockVersion();
  if (version == 0) return;
  const landlock::RulesetAttributes denied = DeniedBy(version);
  const Ruleset ruleset{
      static_cast<int>(syscall(landlock::kCreateRulesetCall, &denied, sizeof denied, 0))};
  // Landlock needs no_new_privs from a process without CAP_SYS_ADMIN.
  if (ruleset.fd < 0 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return;
  // A refusal leaves the run as it was: the confinement is a safeguard.
  syscall(landlock::kRestrictSelfCall, ruleset.fd, 0);
}
#else
// Other systems: the run is not confined.
int LandlockVersion() {
  return 0;
}
void ConfineTheRun() {}
#endif

}  // namespace korrin
