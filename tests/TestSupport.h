// Shared test helpers: a temporary folder that cleans up after itself, file
// writing, and running the host programs.
#ifndef QUARN_TESTS_TESTSUPPORT_H_
#define QUARN_TESTS_TESTSUPPORT_H_

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quarn::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarn-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  // Writes `bytes` to a file under this folder (creating parent folders).
  std::filesystem::path write(std::string_view name, std::string_view bytes) const {
    std::filesystem::path file = path_ / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    return file;
  }

 private:
  std::filesystem::path path_;
};

inline std::string readAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs a shell command line, capturing standard output and standard error.
inline RunResult run(const std::string& command) {
  TempDir dir;
  const std::string outFile = (dir / "out").string(), errFile = (dir / "err").string();
  int raw = std::system((command + " >" + outFile + " 2>" + errFile).c_str());
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = readAll(outFile);
  result.err = readAll(errFile);
  return result;
}

inline std::string binary(std::string_view name) {
  return std::string(QUARN_BINARY_DIR) + "/bin/" + std::string(name);
}

// The bytes of a valid 1 by 1 PNG.
inline std::string tinyPng() {
  static const unsigned char bytes[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
      0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
      0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
      0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
      0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

// What a host program's /proc/PID/status says once it is past its set-up.
// Starts `argv` (its output streams on /dev/null) writing to the FIFO `fifo`,
// which it opens only once it has rendered and which has no reader until
// then. The status is read when it shows the system-call filter, or at the
// last try after 30 s; then the FIFO is drained and the program reaped.
// `exitStatus` gets its exit status, -1 if it did not exit normally.
inline std::string statusWhileWriting(const std::vector<std::string>& argv,
                                      const std::filesystem::path& fifo, int& exitStatus) {
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  exitStatus = -1;
  if (spawned != 0) return {};
  const std::string procStatus = "/proc/" + std::to_string(pid) + "/status";
  std::string status;
  constexpr int kTries = 3000;  // 10 ms apart
  for (int tries = 0; tries < kTries && status.find("Seccomp:\t2") == std::string::npos; ++tries) {
    if (tries > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    status = readAll(procStatus);
  }
  // Held open throughout, so the program's open never waits and an early
  // read finding no writer yet is simply tried again.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int raw = 0;
  for (int tries = 0; tries < kTries; ++tries) {
    char buffer[65536];
    if (reader >= 0 && ::read(reader, buffer, sizeof buffer) > 0) continue;
    if (::waitpid(pid, &raw, WNOHANG) == pid) {
      pid = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &raw, 0);
  }
  if (reader >= 0) ::close(reader);
  exitStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return status;
}

}  // namespace quarn::test

#endif  // QUARN_TESTS_TESTSUPPORT_H_
