// A memory budget for a process that renders one untrusted file. The kernel
// caps the process's private writable memory, so a file that would cost more
// makes allocation fail instead of pushing the machine into swap or its
// out-of-memory killer; this unit turns that failure into a clean end: one
// line on standard error and exit status 1, with no core dump and nothing
// written. Meant for the command-line hosts and the window's render workers,
// where one process serves one render.
#ifndef QUARN_PLATFORM_BUDGET_H_
#define QUARN_PLATFORM_BUDGET_H_

#include <cstddef>
#include <string>

namespace quarn::Budget {

// The budget of one render, above every ordinary file measured (peak
// resident size of quarn-preview): the sample vault and a typical note under
// 5 MB, a 20 MB note 610 MB, a 20 MB note of wiki links 1.23 GB (1.28 GB of
// address space, the most of any), a 100 MB JSON file 400 MB, a canvas of
// 100,000 elements 60 MB. A note of 8 MB of brackets would take 1.9 GB and an
// 8 MB table 2.1 GB.
constexpr std::size_t kRenderBytes = std::size_t{3} << 29;  // 1.5 GiB

// The exit status of a process that ran out of its budget.
constexpr int kExhaustedStatus = 1;

// Caps this process's private writable memory (the data limit, which also
// bounds anonymous mappings; mapped files and code do not count) at `bytes`,
// and makes running out of it print `message` (one line, newline added; an
// empty one prints nothing) and end the process with kExhaustedStatus.
// Children inherit the cap. Returns false, changing nothing, where the limit
// cannot be lowered that far or the build's sanitizers reserve address space
// the cap would refuse.
bool limit(std::size_t bytes, const std::string& message);

// Whether limit() is in force in this process.
bool inForce();

// For an allocator whose callers cannot handle a failure (the Markdown
// library aborts on one): ends the process as limit() promised, or, with no
// budget in force, reports "out of memory" and aborts as the library would.
[[noreturn]] void exhausted();

}  // namespace quarn::Budget

#endif  // QUARN_PLATFORM_BUDGET_H_
