// Immutable bytes held once however many owners name them: a copy shares the
// buffer (one reference count), so an image named by a hundred elements of a
// page is in memory once. Safe to share between threads; never fails.
#ifndef QUARN_BASE_SHAREDBYTES_H_
#define QUARN_BASE_SHAREDBYTES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace quarn {

class SharedBytes {
 public:
  SharedBytes() = default;
  // Takes the bytes over; they never change afterwards. The conversions are
  // implicit both ways, so code that handles bytes as text reads the same.
  SharedBytes(std::string bytes) : bytes_(std::make_shared<const std::string>(std::move(bytes))) {}
  SharedBytes(const char* bytes) : SharedBytes(std::string(bytes)) {}

  // Valid as long as this or any copy of it.
  std::string_view view() const { return bytes_ ? std::string_view(*bytes_) : std::string_view(); }
  operator std::string_view() const { return view(); }
  const char* data() const { return view().data(); }
  std::size_t size() const { return view().size(); }
  bool empty() const { return view().empty(); }

  // Equal bytes, whether shared or not.
  friend bool operator==(const SharedBytes& a, const SharedBytes& b) {
    return a.view() == b.view();
  }
  friend bool operator==(const SharedBytes& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const SharedBytes& a, const std::string& b) { return a.view() == b; }
  friend bool operator==(const SharedBytes& a, const char* b) { return a.view() == b; }

 private:
  std::shared_ptr<const std::string> bytes_;
};

}  // namespace quarn

#endif  // QUARN_BASE_SHAREDBYTES_H_
