#include <string>

#include <gtest/gtest.h>

#include "base/FileUri.h"

namespace quarn {
namespace {

TEST(FileUriTest, TakesPathsAndFileUris) {
  const struct {
    const char* argument;
    const char* path;  // nullptr: refused
  } rows[] = {
      {"/tmp/a.kcv", "/tmp/a.kcv"},
      {"relative/a b.kcv", "relative/a b.kcv"},
      {"relative/a%20b.kcv", "relative/a%20b.kcv"},  // a path is never decoded
      {"file:///tmp/a%20b%2Fc.kcv", "/tmp/a b/c.kcv"},
      {"FILE://localhost/tmp/%C3%A9.kcv", "/tmp/\xc3\xa9.kcv"},
      {"file://LocalHost/tmp/a.md", "/tmp/a.md"},
      {"file:///tmp/a.kcv?query#fragment", "/tmp/a.kcv"},
      {"file://otherhost/tmp/a.kcv", nullptr},
      {"file://localhost.example/tmp/a.kcv", nullptr},
      {"file:/tmp/a.kcv", nullptr},
      {"file://", nullptr},
      {"file:///tmp/%zz.kcv", nullptr},
      {"file:///tmp/a%2", nullptr},
      {"file:///tmp/a%00.kcv", nullptr},
      {"", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.argument);
    const auto path = FileUri::inputPath(row.argument);
    if (row.path == nullptr) {
      ASSERT_FALSE(path.has_value());
      EXPECT_FALSE(path.error().empty());
    } else {
      ASSERT_TRUE(path.has_value()) << path.error();
      EXPECT_EQ(path->string(), row.path);
    }
  }
}

}  // namespace
}  // namespace quarn
