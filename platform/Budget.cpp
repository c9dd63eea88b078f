#include "platform/Budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quarn::Budget {
namespace {

// Written by the failure path without allocating: by then nothing can be.
constexpr std::size_t kMessageRoom = 4096;
char gMessage[kMessageRoom];
std::size_t gMessageLength = 0;
std::atomic<bool> gInForce{false};

constexpr bool sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
  return true;
#else
  return false;
#endif
#else
  return false;
#endif
}

void writeMessage(const char* text, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

void newHandler() { exhausted(); }

}  // namespace

bool limit(std::size_t bytes, const std::string& message) {
  if (sanitized()) return false;
  rlimit current{};
  if (::getrlimit(RLIMIT_DATA, &current) != 0) return false;
  // Never raise a limit someone else set lower.
  const rlim_t wanted = static_cast<rlim_t>(bytes);
  rlimit next = current;
  if (current.rlim_cur == RLIM_INFINITY || current.rlim_cur > wanted) next.rlim_cur = wanted;
  if (current.rlim_max != RLIM_INFINITY && current.rlim_max < next.rlim_cur) {
    next.rlim_cur = current.rlim_max;
  }
  if (::setrlimit(RLIMIT_DATA, &next) != 0) return false;
  gMessageLength = std::min(message.size(), kMessageRoom - 1);
  std::memcpy(gMessage, message.data(), gMessageLength);
  // A worker whose parent reports for it stays silent.
  if (gMessageLength > 0) gMessage[gMessageLength++] = '\n';
  // operator new (and so every C++ container, and simdjson) ends here rather
  // than throwing into code that may turn the exception into a page.
  std::set_new_handler(newHandler);
  gInForce.store(true, std::memory_order_release);
  return true;
}

bool inForce() { return gInForce.load(std::memory_order_acquire); }

void exhausted() {
  if (inForce()) {
    writeMessage(gMessage, gMessageLength);
    // No destructors, no buffered output: a half-built page must not reach
    // a file or a pipe.
    ::_exit(kExhaustedStatus);
  }
  static constexpr char kNoBudget[] = "quarn: out of memory\n";
  writeMessage(kNoBudget, sizeof kNoBudget - 1);
  std::abort();
}

}  // namespace quarn::Budget
