#include "platform/PngWriter.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include <zlib.h>

namespace quarn::PngWriter {

namespace {

void appendBigEndian(std::string& out, std::uint32_t value) {
  const char bytes[] = {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
                        static_cast<char>(value >> 8), static_cast<char>(value)};
  out.append(bytes, 4);
}

void appendChunk(std::string& out, const char type[4], const unsigned char* data,
                 std::size_t size) {
  appendBigEndian(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.append(type, 4);
  if (size > 0) out.append(reinterpret_cast<const char*>(data), size);
  const auto* typed = reinterpret_cast<const Bytef*>(out.data() + start);
  appendBigEndian(out, static_cast<std::uint32_t>(crc32(0, typed, static_cast<uInt>(size + 4))));
}

unsigned char unpremultiply(std::uint32_t channel, std::uint32_t alpha) {
  return static_cast<unsigned char>((channel * 255 + alpha / 2) / alpha);
}

}  // namespace

std::string encode(cairo_surface_t* surface, int level) {
  if (surface == nullptr || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32) {
    return {};
  }
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* pixels = cairo_image_surface_get_data(surface);
  if (width <= 0 || height <= 0 || pixels == nullptr) return {};

  // Run-length matching only: after the "sub" filter a thumbnail is mostly
  // runs of zeros, which it finds at a fraction of the cost of full matching.
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, 15, 8, Z_RLE) != Z_OK) return {};
  std::string compressed;
  unsigned char chunk[1 << 16];
  // Feeds `size` bytes (or the end of the stream) to deflate, keeping what comes out.
  const auto deflateSome = [&](const unsigned char* data, std::size_t size, int flush) {
    stream.next_in = const_cast<unsigned char*>(data);
    stream.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    do {
      stream.next_out = chunk;
      stream.avail_out = sizeof chunk;
      status = deflate(&stream, flush);
      compressed.append(reinterpret_cast<const char*>(chunk), sizeof chunk - stream.avail_out);
    } while (status == Z_OK && (stream.avail_in > 0 || stream.avail_out == 0));
    return flush == Z_FINISH ? status == Z_STREAM_END : status == Z_OK || status == Z_BUF_ERROR;
  };

  // Each row: the filter byte, then RGBA, compressed as it is made so that no
  // image-sized buffer is needed. "Sub" stores each byte minus the one 4 bytes
  // to its left, turning flat runs into zeros that deflate well even at the
  // fastest level.
  const std::size_t rowBytes = 1 + 4 * static_cast<std::size_t>(width);
  std::vector<unsigned char> rgba(4 * static_cast<std::size_t>(width));
  std::vector<unsigned char> filtered(rowBytes);
  bool ok = true;
  for (int y = 0; y < height && ok; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(pixels + std::ptrdiff_t{stride} * y);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t argb = row[x];
      const std::uint32_t a = argb >> 24;
      unsigned char* px = &rgba[4 * static_cast<std::size_t>(x)];
      if (a == 0) {
        std::memset(px, 0, 4);
      } else if (a == 255) {
        px[0] = static_cast<unsigned char>(argb >> 16);
        px[1] = static_cast<unsigned char>(argb >> 8);
        px[2] = static_cast<unsigned char>(argb);
        px[3] = 255;
      } else {
        px[0] = unpremultiply((argb >> 16) & 0xff, a);
        px[1] = unpremultiply((argb >> 8) & 0xff, a);
        px[2] = unpremultiply(argb & 0xff, a);
        px[3] = static_cast<unsigned char>(a);
      }
    }
    filtered[0] = 1;  // sub
    for (std::size_t i = 0; i < rgba.size(); ++i) {
      filtered[1 + i] = static_cast<unsigned char>(rgba[i] - (i >= 4 ? rgba[i - 4] : 0));
    }
    ok = deflateSome(filtered.data(), filtered.size(), Z_NO_FLUSH);
  }
  ok = ok && deflateSome(nullptr, 0, Z_FINISH);
  deflateEnd(&stream);
  if (!ok) return {};

  std::string png("\x89PNG\r\n\x1a\n", 8);
  unsigned char header[13];
  const auto putBigEndian = [](unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value >> 24);
    at[1] = static_cast<unsigned char>(value >> 16);
    at[2] = static_cast<unsigned char>(value >> 8);
    at[3] = static_cast<unsigned char>(value);
  };
  putBigEndian(header, static_cast<std::uint32_t>(width));
  putBigEndian(header + 4, static_cast<std::uint32_t>(height));
  header[8] = 8;   // bits per channel
  header[9] = 6;   // RGBA
  header[10] = 0;  // deflate
  header[11] = 0;  // adaptive filtering
  header[12] = 0;  // not interlaced
  appendChunk(png, "IHDR", header, sizeof header);
  appendChunk(png, "IDAT", reinterpret_cast<const unsigned char*>(compressed.data()),
              compressed.size());
  appendChunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace quarn::PngWriter
