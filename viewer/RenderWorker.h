// The window's render worker: a quarn-render-worker process, started when a
// render needs it, that renders one file at a time and sends back what
// createPreview gave, over a socket. A worker that ends (a crash, a signal,
// its memory budget) is reaped and its render reported as ended; the next
// render starts a fresh one. Free of GTK; one thread only; only render()
// blocks.
#ifndef QUARN_VIEWER_RENDERWORKER_H_
#define QUARN_VIEWER_RENDERWORKER_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/Expected.h"
#include "platform/Budget.h"
#include "platform/FileError.h"
#include "quicklook/QuarnPreview/PreviewService.h"

namespace quarn {

// Why a render came back without its reply, for the line "NAME: CAUSE":
// "too large to preview" when the worker ran out of its budget, else "the
// render ended (killed by signal 9)" and the like.
struct RenderEnded {
  std::string cause;
};

// A render's result: the worker's reply, as createPreview gave it, or how the
// worker ended first.
using WorkerResult = Expected<Expected<ShownPreview, FileError>, RenderEnded>;

class RenderWorker {
 public:
  // What the window and its web process hold beside the worker, measured
  // with a page shown (about 330 MB): the worker gets the render budget less
  // this, so that all of the window's processes together stay within it.
  static constexpr std::size_t kWindowShare = std::size_t{384} << 20;
  static constexpr std::size_t kBudgetBytes = Budget::kRenderBytes - kWindowShare;

  // A worker run from `program`, none started yet, that may use `budgetBytes`
  // of memory (tests give less).
  explicit RenderWorker(std::filesystem::path program = defaultProgram(),
                        std::size_t budgetBytes = kBudgetBytes);
  // Kills the worker, if one runs, and reaps it.
  ~RenderWorker();
  RenderWorker(const RenderWorker&) = delete;
  RenderWorker& operator=(const RenderWorker&) = delete;

  // quarn-render-worker beside this process's executable (the build tree),
  // else where it is installed relative to it.
  static std::filesystem::path defaultProgram();

  // Asks for a render of `file`, starting a worker if none runs. Only while
  // not busy. The result comes from receive().
  void start(const std::filesystem::path& file);
  // Whether a render was started and its result not yet received.
  bool busy() const { return busy_; }
  // While busy: the descriptor that turns readable when receive() has more
  // to read. -1 when receive() has its result without waiting.
  int fd() const;
  // Reads, without blocking, what the worker has sent. Returns the result
  // once its reply is whole or the worker has ended, and is then no longer
  // busy; nothing before, or when not busy.
  std::optional<WorkerResult> receive();
  // start() and waits for the result.
  WorkerResult render(const std::filesystem::path& file);
  // Kills the worker, dropping the render under way; the next start() runs
  // a fresh one.
  void stop();

  // The worker's process; 0 when none runs.
  pid_t pid() const { return pid_; }

 private:
  bool spawn();
  void reset();
  // Reaps the worker (killed first when its reply is `damaged`) and says why it ended.
  WorkerResult ended(bool damaged = false);

  std::filesystem::path program_;
  std::size_t budgetBytes_;
  pid_t pid_ = 0;
  int socket_ = -1;
  bool busy_ = false;
  std::optional<WorkerResult> ready_;  // a result known without reading
  std::uint64_t serial_ = 0;
  char length_[8] = {};
  std::size_t lengthRead_ = 0;
  std::string frame_;
  std::size_t frameRead_ = 0;
};

}  // namespace quarn

#endif  // QUARN_VIEWER_RENDERWORKER_H_
