// Helpers for the viewer's tests: solid-colour PNGs, the pixels of a PNG, a
// local server that counts every connection made to it, and waiting on the
// main loop with a bound.
#ifndef QUARN_TESTS_VIEWER_VIEWERTESTSUPPORT_H_
#define QUARN_TESTS_VIEWER_VIEWERTESTSUPPORT_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtk/gtk.h>

namespace quarn::test {

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// Whether a display is there to open windows on (CI runs these under xvfb-run).
inline bool haveDisplay() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

// Writes a PNG of `side` by `side` pixels of one colour.
inline void writeSolidPng(const std::filesystem::path& file, Rgb colour, int side) {
  std::filesystem::create_directories(file.parent_path());
  std::vector<std::uint8_t> pixels;
  for (int i = 0; i < side * side; ++i) pixels.insert(pixels.end(), {colour.r, colour.g, colour.b});
  GBytes* bytes = g_bytes_new(pixels.data(), pixels.size());
  GdkTexture* texture =
      gdk_memory_texture_new(side, side, GDK_MEMORY_R8G8B8, bytes, static_cast<gsize>(side) * 3);
  gdk_texture_save_to_png(texture, file.c_str());
  g_object_unref(texture);
  g_bytes_unref(bytes);
}

struct Picture {
  int width = 0, height = 0;
  std::vector<Rgb> pixels;  // row by row
  Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
  long count(Rgb colour) const {
    long n = 0;
    for (const Rgb& p : pixels) n += p == colour;
    return n;
  }
};

// The pixels of a PNG; an empty picture when it cannot be read.
inline Picture readPng(const std::filesystem::path& file) {
  Picture picture;
  GdkTexture* texture = gdk_texture_new_from_filename(file.c_str(), nullptr);
  if (!texture) return picture;
  picture.width = gdk_texture_get_width(texture);
  picture.height = gdk_texture_get_height(texture);
  // Downloads come as premultiplied B, G, R, A bytes; the pictures are opaque.
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(picture.width * picture.height * 4));
  gdk_texture_download(texture, raw.data(), static_cast<gsize>(picture.width) * 4);
  g_object_unref(texture);
  for (std::size_t i = 0; i < raw.size(); i += 4) {
    picture.pixels.push_back({raw[i + 2], raw[i + 1], raw[i]});
  }
  return picture;
}

// A TCP server on 127.0.0.1 that accepts and counts every connection.
class LocalServer {
 public:
  LocalServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd_, 16);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 50) <= 0) continue;
        const int client = ::accept(fd_, nullptr, nullptr);
        if (client < 0) continue;
        ++connections_;
        ::close(client);
      }
    });
  }
  ~LocalServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  LocalServer(const LocalServer&) = delete;
  LocalServer& operator=(const LocalServer&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  int connections() const { return connections_; }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<int> connections_ = 0;
  std::atomic<bool> stop_ = false;
  std::thread thread_;
};

// Runs the main loop until `done` holds or `seconds` pass; returns `done()`.
inline bool waitFor(const std::function<bool()>& done, double seconds = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done() && std::chrono::steady_clock::now() < end) {
    g_main_context_iteration(nullptr, FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

}  // namespace quarn::test

#endif  // QUARN_TESTS_VIEWER_VIEWERTESTSUPPORT_H_
