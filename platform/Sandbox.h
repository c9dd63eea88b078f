// Confinement for a process about to parse a file it cannot trust. Once
// entered, the process and any thread it starts afterwards can open no
// network socket (local ones stay), start no program, gain no privilege, and
// write, create or remove files only where it was told it may; reading stays
// open everywhere, since a note's pictures may be anywhere on disk and text
// needs the fonts and their configuration. The system-call filter comes from
// libseccomp; the file rules from the kernel's Landlock where the kernel has
// it, and are quietly left out where it does not. There is no way out.
#ifndef QUARN_PLATFORM_SANDBOX_H_
#define QUARN_PLATFORM_SANDBOX_H_

#include <filesystem>
#include <string>
#include <vector>

namespace quarn::Sandbox {

// Where the confined process may still write. Both lists may be empty: a
// render worker that hands its page back over a pipe writes nowhere.
struct Writable {
  // Files to be written as platform/FileWrite writes them: the file itself
  // (following symbolic links, /proc/self/fd links included), and for a
  // regular or new file the folder its bytes are staged in beside it.
  std::vector<std::filesystem::path> files;
  // Folders to be created if need be and written into.
  std::vector<std::filesystem::path> folders;
};

// What enter() put in force.
struct Entered {
  bool noNewPrivileges = false;
  bool filter = false;   // the system-call filter
  int fileRulesAbi = 0;  // the Landlock ABI used; 0 when the kernel has none
};

// Confines the calling process as the header says. Descriptors already open
// (standard output, a pipe) keep working. Call it before starting threads:
// the file rules hold for the calling thread and those it starts later.
// Never fails: each layer the kernel refuses is left out, as Entered shows.
Entered enter(const Writable& writable);

// The budget (platform/Budget) and the sandbox together, as every render
// process takes them: `tooLarge` is the line printed when the render runs out
// of memory.
Entered contain(const Writable& writable, const std::string& tooLarge);

}  // namespace quarn::Sandbox

#endif  // QUARN_PLATFORM_SANDBOX_H_
