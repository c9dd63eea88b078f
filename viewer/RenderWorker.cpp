#include "viewer/RenderWorker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/Budget.h"
#include "viewer/RenderMessage.h"

extern char** environ;

namespace quarn {
namespace {

constexpr const char* kProgramName = "quarn-render-worker";
// Where the worker finds its end of the socket.
constexpr int kWorkerSocket = 3;
// No page comes near this; a length past it is a damaged frame.
constexpr std::uint64_t kMaxReplyBytes = std::uint64_t{1} << 34;

std::string cause(int status) {
  if (WIFEXITED(status) && WEXITSTATUS(status) == Budget::kExhaustedStatus) {
    return "too large to preview";
  }
  if (WIFSIGNALED(status)) {
    return "the render ended (killed by signal " + std::to_string(WTERMSIG(status)) + ")";
  }
  return "the render ended (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
}

}  // namespace

RenderWorker::RenderWorker(std::filesystem::path program, std::size_t budgetBytes)
    : program_(std::move(program)), budgetBytes_(budgetBytes) {}

RenderWorker::~RenderWorker() { stop(); }

std::filesystem::path RenderWorker::defaultProgram() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path folder = error ? std::filesystem::path(".") : self.parent_path();
  const std::filesystem::path beside = folder / kProgramName;
  if (::access(beside.c_str(), X_OK) == 0) return beside;
  return (folder / QUARN_WORKER_FROM_BINDIR / kProgramName).lexically_normal();
}

bool RenderWorker::spawn() {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  // dup2 onto itself would leave the descriptor closed on exec.
  if (ends[1] == kWorkerSocket) {
    const int moved = ::fcntl(ends[1], F_DUPFD_CLOEXEC, kWorkerSocket + 1);
    ::close(ends[1]);
    ends[1] = moved;
    if (moved < 0) {
      ::close(ends[0]);
      return false;
    }
  }
  // The socket, standard error and nothing else: descriptors the window left
  // inheritable do not reach the worker.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], kWorkerSocket);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, kWorkerSocket + 1);
  // Nothing of the window's signal handling either.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> arguments = {program_.string(), std::to_string(kWorkerSocket)};
  if (budgetBytes_ > 0) arguments.push_back(std::to_string(budgetBytes_));
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int failed =
      ::posix_spawn(&pid, program_.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  ::close(ends[1]);
  if (failed != 0) {
    ::close(ends[0]);
    ready_ = Unexpected(RenderEnded{"the render could not start (" + program_.string() + ": " +
                                    std::strerror(failed) + ")"});
    return false;
  }
  pid_ = pid;
  socket_ = ends[0];
  return true;
}

void RenderWorker::start(const std::filesystem::path& file) {
  busy_ = true;
  lengthRead_ = frameRead_ = 0;
  frame_.clear();
  // A worker that ended between renders (killed from outside) is replaced
  // rather than blamed on this file.
  if (pid_ > 0) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = 0;
      reset();
    }
  }
  if (pid_ == 0 && !spawn()) return;
  const std::string request = RenderMessage::request(++serial_, file);
  // A failed send means the worker is gone: reading then says how it ended.
  (void)RenderMessage::send(socket_, {request});
}

int RenderWorker::fd() const { return busy_ && !ready_ ? socket_ : -1; }

std::optional<WorkerResult> RenderWorker::receive() {
  if (!busy_) return std::nullopt;
  if (ready_) {
    busy_ = false;
    WorkerResult result = std::move(*ready_);
    ready_.reset();
    return result;
  }
  for (;;) {
    char* into;
    std::size_t wanted;
    if (lengthRead_ < sizeof length_) {
      into = length_ + lengthRead_;
      wanted = sizeof length_ - lengthRead_;
    } else {
      into = frame_.data() + frameRead_;
      wanted = frame_.size() - frameRead_;
    }
    const ssize_t n = wanted == 0 ? 0 : ::recv(socket_, into, wanted, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return std::nullopt;
    if (n <= 0 && wanted > 0) return ended();
    if (lengthRead_ < sizeof length_) {
      lengthRead_ += static_cast<std::size_t>(n);
      if (lengthRead_ < sizeof length_) continue;
      const std::uint64_t length = RenderMessage::frameLength({length_, sizeof length_});
      if (length > kMaxReplyBytes) return ended(true);
      frame_.resize(length);
      continue;
    }
    frameRead_ += static_cast<std::size_t>(n);
    if (frameRead_ < frame_.size()) continue;
    auto reply = RenderMessage::readReply(std::move(frame_));
    frame_.clear();
    if (!reply || reply->serial != serial_) return ended(true);
    busy_ = false;
    return std::move(reply->result);
  }
}

WorkerResult RenderWorker::ended(bool damaged) {
  busy_ = false;
  int status = 0;
  if (pid_ > 0) {
    // The end of the stream comes as the worker exits, so this wait is short.
    if (damaged) ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = 0;
  reset();
  return Unexpected(
      RenderEnded{damaged ? "the render ended (its reply was damaged)" : cause(status)});
}

WorkerResult RenderWorker::render(const std::filesystem::path& file) {
  start(file);
  for (;;) {
    if (auto result = receive()) return std::move(*result);
    pollfd ready{fd(), POLLIN, 0};
    ::poll(&ready, 1, -1);
  }
}

void RenderWorker::stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = 0;
  }
  reset();
  busy_ = false;
  ready_.reset();
}

void RenderWorker::reset() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  lengthRead_ = frameRead_ = 0;
  frame_ = std::string();
}

}  // namespace quarn
