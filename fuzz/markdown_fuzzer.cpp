// libFuzzer target for the note road of the preview: each input is written as
// note.md into a folder made once per process, beside two small images the
// note may name, and rendered as the preview would render it.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "quicklook/Shared/PreviewDocument.h"

namespace {

// A valid 1 by 1 PNG, so attachments carry real image bytes.
constexpr unsigned char kPng[] = {
    0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
    0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06, 0x00, 0x00,
    0x00, 0x1F, 0x15, 0xC4, 0x89, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x44, 0x41, 0x54, 0x78,
    0x9C, 0x63, 0xF8, 0xCF, 0xC0, 0xF0, 0x1F, 0x00, 0x05, 0x00, 0x01, 0xFF, 0x89, 0x99,
    0x3D, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};

void writeFile(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Vault {
  std::filesystem::path folder;
  std::filesystem::path note;

  Vault() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarn-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    folder = pattern;
    note = folder / "note.md";
    writeFile(folder / "pixel.png",
              std::string_view(reinterpret_cast<const char*>(kPng), sizeof kPng));
    std::filesystem::create_directories(folder / "img");
    writeFile(folder / "img" / "photo one.jpg", "\xFF\xD8\xFF\xE0 not really a photo");
  }
  ~Vault() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Vault vault;
  writeFile(vault.note, std::string_view(reinterpret_cast<const char*>(data), size));
  auto preview = quarn::PreviewDocument::render(vault.note);
  // The note is a regular readable file, so the page always comes out whole.
  if (!preview) __builtin_trap();
  if (!preview->html.starts_with("<!DOCTYPE html>") || !preview->html.ends_with("</html>")) {
    __builtin_trap();
  }
  // Every attachment is named by the page it travels with.
  for (const auto& entry : preview->attachments) {
    if (preview->html.find("\"cid:" + entry.first + "\"") == std::string::npos) __builtin_trap();
  }
  return 0;
}
