// quarn-render-worker: renders files for quarn-view in a process of its own,
// under the memory budget and inside the sandbox, so that a render that
// crashes or runs out of memory never takes the window down. The window
// starts it with its end of a socket; it is not run by hand.
//
//   quarn-render-worker SOCKET_FD [BUDGET_BYTES]
//
// BUDGET_BYTES lowers the budget: the window keeps a share of it for its own
// processes, and tests run out of it with small files.
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

#include "base/ExitStatus.h"
#include "platform/Budget.h"
#include "platform/Sandbox.h"
#include "viewer/RenderServer.h"

namespace {

template <typename Number>
bool parse(const char* text, Number& value) {
  const char* end = text + std::strlen(text);
  const auto [at, error] = std::from_chars(text, end, value);
  return error == std::errc() && at == end;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    int socket = -1;
    std::size_t budget = 0;
    if (argc < 2 || argc > 3 || !parse(argv[1], socket) || socket < 0 ||
        (argc == 3 && !parse(argv[2], budget))) {
      std::fputs("usage: quarn-render-worker SOCKET_FD [BUDGET_BYTES]\n", stderr);
      return quarn::kUsage;
    }
    // Silent when the budget runs out: the window says so, naming the file.
    if (budget > 0) quarn::Budget::limit(budget, "");
    // Before the first request is read; this process writes nowhere.
    quarn::Sandbox::contain({}, "");
    return quarn::RenderServer::serve(socket);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-render-worker: %s\n", error.what());
    return quarn::RenderServer::kBrokenStatus;
  }
}
