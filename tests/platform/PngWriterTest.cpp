#include <cstdint>
#include <cstring>
#include <string>

#include <cairo.h>
#include <gtest/gtest.h>

#include "platform/PngWriter.h"

namespace quarn {
namespace {

struct Reader {
  const std::string& bytes;
  std::size_t offset = 0;
};

cairo_status_t readChunk(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<Reader*>(closure);
  if (reader->offset + length > reader->bytes.size()) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, reader->bytes.data() + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

// Decoded by cairo's own reader (libpng underneath), back to premultiplied ARGB32.
cairo_surface_t* decode(const std::string& png) {
  Reader reader{png};
  return cairo_image_surface_create_from_png_stream(readChunk, &reader);
}

TEST(PngWriterTest, RoundTripsPremultipliedPixels) {
  // Premultiplied ARGB32 in, straight RGBA in the file, the same pixels back.
  const std::uint32_t rows[] = {
      0xffffffff,  // opaque white
      0xff6b6b6b,  // outline grey
      0x00000000,  // transparent
      0x80402010,  // half alpha: stored as 0x80, 128, 64, 32 straight
      0x01010101,  // the smallest alpha
      0xfffe0102,  // neighbours differ: exercises the sub filter
  };
  const int width = sizeof rows / sizeof rows[0];
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, 3);
  cairo_surface_flush(surface);
  for (int y = 0; y < 3; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                 y * cairo_image_surface_get_stride(surface));
    for (int x = 0; x < width; ++x) row[x] = rows[(x + y) % width];
  }
  cairo_surface_mark_dirty(surface);

  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(level);
    const std::string png = PngWriter::encode(surface, level);
    ASSERT_EQ(png.substr(1, 3), "PNG");
    cairo_surface_t* back = decode(png);
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(back), width);
    ASSERT_EQ(cairo_image_surface_get_height(back), 3);
    for (int y = 0; y < 3; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(
          cairo_image_surface_get_data(back) + y * cairo_image_surface_get_stride(back));
      for (int x = 0; x < width; ++x) {
        EXPECT_EQ(row[x], rows[(x + y) % width]) << x << "," << y;
      }
    }
    cairo_surface_destroy(back);
  }
  cairo_surface_destroy(surface);
}

TEST(PngWriterTest, RefusesWhatItCannotEncode) {
  cairo_surface_t* rgb = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 4, 4);
  cairo_surface_t* empty = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 0, 0);
  EXPECT_EQ(PngWriter::encode(rgb), "");
  EXPECT_EQ(PngWriter::encode(empty), "");
  EXPECT_EQ(PngWriter::encode(nullptr), "");
  cairo_surface_destroy(rgb);
  cairo_surface_destroy(empty);
}

}  // namespace
}  // namespace quarn
