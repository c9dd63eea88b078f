#include "platform/Sandbox.h"

#include <fcntl.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <system_error>

#include "platform/Budget.h"
#include "platform/FileWrite.h"

namespace quarn::Sandbox {
namespace {

// Landlock's interface, spelled out here: the C library's headers lag the
// kernels the hosts meet, and these values are fixed by the kernel's ABI.
constexpr long kCreateRuleset = 444;
constexpr long kAddRule = 445;
constexpr long kRestrictSelf = 446;
constexpr std::uint32_t kRulesetVersion = 1U << 0;
constexpr int kRulePathBeneath = 1;

constexpr std::uint64_t kExecute = 1ULL << 0;
constexpr std::uint64_t kWriteFile = 1ULL << 1;
constexpr std::uint64_t kRemoveDir = 1ULL << 4;
constexpr std::uint64_t kRemoveFile = 1ULL << 5;
constexpr std::uint64_t kMakeChar = 1ULL << 6;
constexpr std::uint64_t kMakeDir = 1ULL << 7;
constexpr std::uint64_t kMakeReg = 1ULL << 8;
constexpr std::uint64_t kMakeSock = 1ULL << 9;
constexpr std::uint64_t kMakeFifo = 1ULL << 10;
constexpr std::uint64_t kMakeBlock = 1ULL << 11;
constexpr std::uint64_t kMakeSym = 1ULL << 12;
constexpr std::uint64_t kRefer = 1ULL << 13;     // ABI 2
constexpr std::uint64_t kTruncate = 1ULL << 14;  // ABI 3
constexpr std::uint64_t kBindTcp = 1ULL << 0;    // ABI 4, network rights
constexpr std::uint64_t kConnectTcp = 1ULL << 1;
constexpr std::uint64_t kScopeAbstractUnix = 1ULL << 0;  // ABI 6, scopes
constexpr std::uint64_t kScopeSignal = 1ULL << 1;

struct RulesetAttr {
  std::uint64_t handledFs;
  std::uint64_t handledNet;
  std::uint64_t scoped;
};

struct [[gnu::packed]] PathBeneathAttr {
  std::uint64_t allowed;
  std::int32_t parentFd;
};

// A file's own rights, and a folder's for files staged, renamed, removed and
// created beneath it.
constexpr std::uint64_t kFileRights = kWriteFile | kTruncate;
constexpr std::uint64_t kStagingRights = kFileRights | kMakeReg | kRemoveFile;
constexpr std::uint64_t kFolderRights = kStagingRights | kMakeDir;

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class Ruleset {
 public:
  Ruleset(int fd, std::uint64_t handled) : fd_(fd), handled_(handled) {}

  // A path that cannot be opened gets no rule: writing there then fails as it
  // would have anyway.
  void allow(const std::filesystem::path& path, std::uint64_t rights, bool foldersOnly) const {
    const Descriptor fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (fd.get() < 0) return;
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return;
    const bool folder = S_ISDIR(status.st_mode);
    if (foldersOnly != folder) return;
    // Rules on a file take only the rights a file has.
    const PathBeneathAttr rule{(folder ? rights : rights & kFileRights) & handled_, fd.get()};
    ::syscall(kAddRule, fd_.get(), kRulePathBeneath, &rule, 0);
  }

  int fd() const { return fd_.get(); }

 private:
  Descriptor fd_;
  std::uint64_t handled_;
};

// The deepest folder of `path` (itself included) that exists.
std::filesystem::path existingFolder(std::filesystem::path path) {
  for (;;) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) return path;
    if (!path.has_relative_path()) return path;
    path = path.has_parent_path() ? path.parent_path() : ".";
  }
}

int applyFileRules(const Writable& writable) {
  const long abi = ::syscall(kCreateRuleset, nullptr, 0, kRulesetVersion);
  if (abi <= 0) return 0;
  RulesetAttr attr{kExecute | kWriteFile | kRemoveDir | kRemoveFile | kMakeChar | kMakeDir |
                       kMakeReg | kMakeSock | kMakeFifo | kMakeBlock | kMakeSym,
                   0, 0};
  if (abi >= 2) attr.handledFs |= kRefer;
  if (abi >= 3) attr.handledFs |= kTruncate;
  if (abi >= 4) attr.handledNet = kBindTcp | kConnectTcp;
  if (abi >= 6) attr.scoped = kScopeAbstractUnix | kScopeSignal;
  // Older kernels read only the fields they know; the rest are zero.
  const std::size_t size = abi >= 6 ? sizeof attr : abi >= 4 ? 16 : 8;
  const Ruleset ruleset(static_cast<int>(::syscall(kCreateRuleset, &attr, size, 0)),
                        attr.handledFs);
  if (ruleset.fd() < 0) return 0;

  for (const auto& file : writable.files) {
    ruleset.allow(file, kFileRights, false);
    std::error_code error;
    const std::filesystem::path target = finalTarget(file, error);
    if (error) continue;
    struct stat status {};
    const bool exists = ::lstat(target.c_str(), &status) == 0;
    if (!exists || S_ISREG(status.st_mode)) {
      ruleset.allow(target.has_parent_path() ? target.parent_path() : ".", kStagingRights, true);
    }
  }
  for (const auto& folder : writable.folders) {
    ruleset.allow(existingFolder(folder), kFolderRights, true);
  }
  if (::syscall(kRestrictSelf, ruleset.fd(), 0) != 0) return 0;
  return static_cast<int>(abi);
}

// AddressSanitizer's leak check traces the process's own threads at exit;
// refusing ptrace there would fail every sanitized run.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kLeakChecked = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kLeakChecked = true;
#else
constexpr bool kLeakChecked = false;
#endif
#else
constexpr bool kLeakChecked = false;
#endif

struct FilterDeleter {
  void operator()(scmp_filter_ctx filter) const { seccomp_release(filter); }
};

bool applyFilter() {
  std::unique_ptr<void, FilterDeleter> filter(seccomp_init(SCMP_ACT_ALLOW));
  if (!filter) return false;
  scmp_filter_ctx ctx = filter.get();
  // Every thread at once, so none is left outside.
  seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1);
  const auto refuse = [&](int call, int error) {
    return seccomp_rule_add(ctx, SCMP_ACT_ERRNO(error), call, 0) == 0;
  };
  // One comparison of argument `arg`; libseccomp's own macros build it as a
  // C compound literal, which is not C++.
  const auto when = [&](int call, int error, unsigned arg, scmp_compare op, scmp_datum_t a,
                        scmp_datum_t b) {
    const scmp_arg_cmp compare{arg, op, a, b};
    return seccomp_rule_add_array(ctx, SCMP_ACT_ERRNO(error), call, 1, &compare) == 0;
  };
  bool ok = when(SCMP_SYS(socket), EACCES, 0, SCMP_CMP_NE, AF_UNIX, 0);
  ok = ok && refuse(SCMP_SYS(execve), EACCES) && refuse(SCMP_SYS(execveat), EACCES);
  // io_uring opens sockets and files without passing through this filter;
  // tracing would let the process steer another one of the user's.
  ok = ok && refuse(SCMP_SYS(io_uring_setup), ENOSYS) &&
       (kLeakChecked || refuse(SCMP_SYS(ptrace), EPERM)) &&
       refuse(SCMP_SYS(process_vm_writev), EPERM);
  // Pushing characters into the terminal's input would type commands into
  // the shell that started us.
  for (const unsigned long request : {TIOCSTI, TIOCLINUX}) {
    ok = ok && when(SCMP_SYS(ioctl), EPERM, 1, SCMP_CMP_MASKED_EQ, 0xFFFFFFFFUL, request);
  }
  return ok && seccomp_load(ctx) == 0;
}

}  // namespace

Entered enter(const Writable& writable) {
  Entered entered;
  entered.noNewPrivileges = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
  if (!entered.noNewPrivileges) return entered;  // neither layer may be set without it
  entered.fileRulesAbi = applyFileRules(writable);
  entered.filter = applyFilter();
  return entered;
}

Entered contain(const Writable& writable, const std::string& tooLarge) {
  Budget::limit(Budget::kRenderBytes, tooLarge);
  return enter(writable);
}

}  // namespace quarn::Sandbox
