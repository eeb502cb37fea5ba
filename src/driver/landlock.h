// SPDX-License-Identifier: MIT
// The part of Linux's Landlock interface that korrin uses, as the kernel
// publishes it in linux/landlock.h. The system headers of older
// distributions lack the later versions' rights and ruleset fields, so
// they are stated here once.
#pragma once

#include <sys/syscall.h>

#include <cstdint>

namespace korrin::landlock {

// The system calls. Where the C library does not name them, these are the
// numbers of x86-64, i386 and s390x (and s390), which are the same.
#if defined(SYS_landlock_create_ruleset) && defined(SYS_landlock_restrict_self)
constexpr long kCreateRulesetCall = SYS_landlock_create_ruleset;
constexpr long kRestrictSelfCall = SYS_landlock_restrict_self;
#elif defined(__linux__) && \
    ((defined(__x86_64__) && !defined(__ILP32__)) || defined(__i386__) || defined(__s390__))
constexpr long kCreateRulesetCall = 444;
constexpr long kRestrictSelfCall = 446;
#else
// No known number: the calls fail with ENOSYS, and the run is not confined.
constexpr long kCreateRulesetCall = -1;
constexpr long kRestrictSelfCall = -1;
#endif

// landlock_create_ruleset's flag that asks for the interface's version.
constexpr uint32_t kCreateRulesetVersion = 1U << 0;

// struct landlock_ruleset_attr as of version 6. A kernel that knows fewer
// fields accepts it when the fields it does not know are zero.
struct RulesetAttributes {
  uint64_t handled_access_fs;
  uint64_t handled_access_net;  // version 4 on
  uint64_t scoped;              // version 6 on
};

// Rights on files, by the version that brought them. Bits 2 and 3, reading
// a file and reading a directory, korrin never gives up.
constexpr uint64_t kAccessFsExecute = 1ULL << 0;  // version 1
constexpr uint64_t kAccessFsWriteFile = 1ULL << 1;
constexpr uint64_t kAccessFsRemoveDir = 1ULL << 4;
constexpr uint64_t kAccessFsRemoveFile = 1ULL << 5;
constexpr uint64_t kAccessFsMakeChar = 1ULL << 6;
constexpr uint64_t kAccessFsMakeDir = 1ULL << 7;
constexpr uint64_t kAccessFsMakeReg = 1ULL << 8;
constexpr uint64_t kAccessFsMakeSock = 1ULL << 9;
constexpr uint64_t kAccessFsMakeFifo = 1ULL << 10;
constexpr uint64_t kAccessFsMakeBlock = 1ULL << 11;
constexpr uint64_t kAccessFsMakeSym = 1ULL << 12;
constexpr uint64_t kAccessFsRefer = 1ULL << 13;     // version 2
constexpr uint64_t kAccessFsTruncate = 1ULL << 14;  // version 3
constexpr uint64_t kAccessFsIoctlDev = 1ULL << 15;  // version 5

// Rights on TCP ports: version 4.
constexpr uint64_t kAccessNetBindTcp = 1ULL << 0;
constexpr uint64_t kAccessNetConnectTcp = 1ULL << 1;

// What a confined process may not reach outside its domain: version 6.
constexpr uint64_t kScopeAbstractUnixSocket = 1ULL << 0;
constexpr uint64_t kScopeSignal = 1ULL << 1;

}  // namespace korrin::landlock
