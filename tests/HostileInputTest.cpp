// Hostile inputs for every file type the preview and the thumbnail accept. Each
// must come out as a page (or its documented note) without a hang, without a
// memory blow-up, and without anything written beside the file. The time and
// memory limits are far above the normal cost: only a blow-up reaches them.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include <cairo.h>
#include <gtest/gtest.h>

#include "platform/GraphicsContext.h"
#include "quicklook/QuarnThumbnail/ThumbnailProvider.h"
#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/CanvasRasterizer.h"
#include "quicklook/Shared/PreviewDocument.h"
#include "tests/TestSupport.h"

// Sanitizers and unoptimised code cost several times more per byte: the
// families stay, their sizes shrink and the time limits widen.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUARN_TEST_SLOW_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUARN_TEST_SLOW_BUILD 1
#endif
#endif
#if !defined(QUARN_TEST_SLOW_BUILD) && !defined(NDEBUG)
#define QUARN_TEST_SLOW_BUILD 1
#endif

namespace quarn {
namespace {

#ifdef QUARN_TEST_SLOW_BUILD
constexpr std::size_t kShrink = 4;
constexpr double kSlowdown = 10;
constexpr long kMemoryBoundMb = 3072;  // sanitizer shadow and quarantine included
#else
constexpr std::size_t kShrink = 1;
constexpr double kSlowdown = 1;
constexpr long kMemoryBoundMb = 1024;
#endif

// The process's peak resident size since the last reset (VmHWM), or -1.
long peakRssMb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6)) / 1024;
  }
  return -1;
}

// Lowers the peak to the present size, so that each case is measured from its
// own baseline: the process-wide peak of an earlier, larger case would
// otherwise hide any growth below it.
bool resetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// Everything under `folder` with its size, to show that nothing was written.
std::map<std::string, std::uintmax_t> listing(const std::filesystem::path& folder) {
  std::map<std::string, std::uintmax_t> entries;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::error_code ec;
    const std::uintmax_t size = entry.is_regular_file(ec) ? entry.file_size(ec) : 0;
    entries.emplace(entry.path().lexically_relative(folder).string(), size);
  }
  return entries;
}

bool isValidUtf8(const std::string& text) {
  // The decoder copies valid UTF-8 unchanged and re-encodes anything else.
  return PreviewDocument::decodeText(text) == text;
}

class HostileInputTest : public ::testing::Test {
 protected:
  // Runs `work`, failing when it takes longer than `seconds` (widened for slow
  // builds), grows the peak memory past the bound, or changes the folder.
  void bounded(double seconds, const std::function<void()>& work, long memoryMb = kMemoryBoundMb) {
    const auto before = listing(dir_.path());
    ASSERT_TRUE(resetPeakRss());
    const long rssBefore = peakRssMb();
    ASSERT_GE(rssBefore, 0);
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed.count(), seconds * kSlowdown);
    EXPECT_LT(peakRssMb() - rssBefore, memoryMb);
    EXPECT_EQ(listing(dir_.path()), before);
  }

  // The preview of a file `name` holding `bytes`; the page must come out whole
  // and valid UTF-8.
  RenderedPreview render(std::string_view name, std::string_view bytes, double seconds = 10,
                         long memoryMb = kMemoryBoundMb) {
    const std::filesystem::path file = dir_.write(name, bytes);
    RenderedPreview preview;
    bounded(
        seconds,
        [&] {
          auto result = PreviewDocument::render(file);
          ASSERT_TRUE(result.has_value());
          preview = std::move(*result);
        },
        memoryMb);
    EXPECT_TRUE(preview.html.starts_with("<!DOCTYPE html>"));
    EXPECT_TRUE(preview.html.ends_with("</html>"));
    EXPECT_TRUE(isValidUtf8(preview.html));
    std::filesystem::remove(file);
    return preview;
  }

  test::TempDir dir_;
};

struct Family {
  const char* name;
  std::function<std::string(std::size_t)> make;
  std::size_t n;            // size in Release; slow builds divide it by kShrink
  const char* mustContain;  // proof that the structure was rendered, not dropped
};

std::string table(std::size_t columns, std::size_t rows) {
  std::string text = repeat("|h", columns) + "|\n" + repeat("|-", columns) + "|\n";
  text += repeat(repeat("|x", columns) + "|\n", rows);
  return text;
}

TEST_F(HostileInputTest, PathologicalMarkdownFamiliesRenderInBoundedTimeAndMemory) {
  const Family families[] = {
      {"deep brackets", [](std::size_t n) { return repeat("[", n) + "a" + repeat("]", n); }, 100000,
       "[[[["},
      {"link openers", [](std::size_t n) { return repeat("[a](", n); }, 50000, "[a]("},
      {"image openers", [](std::size_t n) { return repeat("![", n); }, 100000, "![!["},
      {"unclosed links", [](std::size_t n) { return repeat("[a", n) + repeat("](b)", n); }, 30000,
       "<a href=\"b\">"},
      {"nested emphasis", [](std::size_t n) { return repeat("*", n) + "a" + repeat("*", n); },
       100000, "<strong>a</strong>"},
      {"emphasis openers", [](std::size_t n) { return repeat("*a ", n); }, 100000, "*a"},
      {"mixed delimiters", [](std::size_t n) { return repeat("*a_", n) + repeat("~~b", n); }, 50000,
       "<p>"},
      {"backtick ladder",
       [](std::size_t n) {
         std::string text;
         for (std::size_t i = 1; i <= n; ++i) text += repeat("`", i) + "a";
         return text;
       },
       1000, "``"},
      {"backtick openers", [](std::size_t n) { return repeat("`a", n); }, 100000, "<code>a</code>"},
      {"table with thousands of columns", [](std::size_t n) { return table(n, 2); }, 5000,
       "<td>x</td>"},
      {"table with thousands of rows", [](std::size_t n) { return table(8, n); }, 20000,
       "<td>x</td>"},
      {"wide and long table", [](std::size_t n) { return table(n, n / 2); }, 400, "<th>h</th>"},
      {"autolink-looking www runs", [](std::size_t n) { return repeat("www.", n); }, 100000,
       "www."},
      {"autolink-looking e-mail runs", [](std::size_t n) { return repeat("a@", n) + "b.c"; },
       100000, "@"},
      {"autolink-looking url runs", [](std::size_t n) { return repeat("http://a.b/(", n); }, 30000,
       "<a href=\"http://a.b/"},
      {"underscores after www", [](std::size_t n) { return "www.a" + repeat("_", n); }, 100000,
       "www.a"},
      {"deep block quotes", [](std::size_t n) { return repeat(">", n) + " a"; }, 20000,
       "<blockquote>"},
      {"indented list ladder",
       [](std::size_t n) {
         std::string text;
         for (std::size_t i = 0; i < n; ++i) text += repeat("  ", i) + "- a\n";
         return text;
       },
       400, "<li>"},
      {"deep list", [](std::size_t n) { return repeat("- ", n) + "a"; }, 20000, "<li>"},
      {"wiki-link openers", [](std::size_t n) { return repeat("[[a|", n); }, 100000, "[[a|"},
  };
  for (const Family& family : families) {
    SCOPED_TRACE(family.name);
    const std::string note = family.make(family.n / kShrink);
    const RenderedPreview preview = render("family.md", note, 10);
    EXPECT_NE(preview.html.find(family.mustContain), std::string::npos);
    EXPECT_TRUE(preview.attachments.empty());
  }
}

TEST_F(HostileInputTest, TenMegabyteLineOfOpeningBrackets) {
  const std::size_t n = 10'000'000 / kShrink;
  // The Markdown library keeps one inline node (about 230 bytes) per bracket
  // until the paragraph ends: linear, but 2.3 GB for this line.
  const RenderedPreview preview = render("brackets.md", std::string(n, '['), 60, 4096);
  // The brackets are text: every one of them is on the page.
  EXPECT_GE(std::count(preview.html.begin(), preview.html.end(), '['),
            static_cast<std::ptrdiff_t>(n));
}

TEST_F(HostileInputTest, YamlAliasBombShowsAtMostTheRowLimit) {
  std::string bomb = "a0: &a0 [x, x, x, x, x, x, x, x, x, x]\n";
  for (int level = 1; level < 40; ++level) {
    const std::string previous = std::string("*a") + std::to_string(level - 1);
    bomb += std::string("a") + std::to_string(level) + std::string(": &a") + std::to_string(level) +
            " [" + repeat(previous + ", ", 9) + previous + "]\n";
  }
  for (const char* name : {"bomb.yaml", "bomb.yml"}) {
    SCOPED_TRACE(name);
    const RenderedPreview preview = render(name, bomb, 5);
    EXPECT_NE(preview.html.find("quarn-props"), std::string::npos);
    EXPECT_LT(preview.html.size(), std::size_t{2'000'000});
  }
  // The same bomb as a note's front matter.
  const RenderedPreview note = render("bomb.md", "---\n" + bomb + "---\nbody\n", 5);
  EXPECT_NE(note.html.find("quarn-frontmatter"), std::string::npos);
  EXPECT_NE(note.html.find("<p>body</p>"), std::string::npos);
}

// Each anchor nests 480 flow sequences (within the parser's nesting bound)
// around an alias to the previous one, so the last is 144,000 levels deep.
TEST_F(HostileInputTest, TreeMadeDeepByAliasesAsAKeyGivesAPage) {
  std::string text;
  for (int level = 0; level < 300; ++level) {
    const std::string inner = level ? "*a" + std::to_string(level - 1) : "x";
    text += "a" + std::to_string(level) + ": &a" + std::to_string(level) + " " + repeat("[", 480) +
            inner + repeat("]", 480) + "\n";
  }
  text += "? *a299\n: 1\n? [b]\n: 2\n";
  const RenderedPreview preview = render("deep.yaml", text, 10);
  EXPECT_NE(preview.html.find("Truncated"), std::string::npos);
  const RenderedPreview note = render("deep.md", "---\n" + text + "---\nbody\n", 10);
  EXPECT_NE(note.html.find("quarn-frontmatter"), std::string::npos);
  EXPECT_NE(note.html.find("<p>body</p>"), std::string::npos);
}

TEST_F(HostileInputTest, AliasedLongStringInAChipListStaysBounded) {
  std::string text =
      "s: &s '" + std::string(20000, '&') + "'\nl: [" + repeat("*s, ", 1999) + "*s]\n";
  const RenderedPreview preview = render("chips.yaml", text, 10);
  EXPECT_LE(preview.html.size(), 6 * text.size() + (std::size_t{16} << 20));
  EXPECT_NE(preview.html.find("Truncated \xE2\x80\x94 showing the first 800 rows"),
            std::string::npos);
}

TEST_F(HostileInputTest, HundredThousandLevelNestingIsRefusedWithTheNote) {
  const std::size_t n = 100'000;
  const struct {
    const char* name;
    std::string text;
  } rows[] = {
      {"arrays.json", repeat("[", n) + repeat("]", n)},
      {"objects.json", repeat("{\"a\":", n) + "1" + repeat("}", n)},
      {"flow.yaml", repeat("[", n) + repeat("]", n)},
      {"block.yaml", repeat("- ", n) + "a\n"},
      {"mappings.yml", repeat("{a: ", n) + "b" + repeat("}", n)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const RenderedPreview preview = render(row.name, row.text, 10);
    EXPECT_NE(preview.html.find("class=\"quarn-note\""), std::string::npos);
  }
  // Nesting in a note's front matter leaves the body intact.
  const RenderedPreview note = render("deep.md", "---\n" + repeat("[", n) + "\n---\nbody\n");
  EXPECT_NE(note.html.find("<p>body</p>"), std::string::npos);
}

TEST_F(HostileInputTest, TwoHundredThousandKeysAreTruncatedAtTheRowLimit) {
  const std::size_t n = 200'000 / kShrink;
  std::string json = "{";
  std::string yaml;
  for (std::size_t i = 0; i < n; ++i) {
    if (i > 0) json += ",";
    json += std::string("\"key") + std::to_string(i) + std::string("\":") + std::to_string(i);
    yaml += std::string("key") + std::to_string(i) + std::string(": ") + std::to_string(i) + "\n";
  }
  json += "}";
  for (const auto& [name, text] : {std::pair{"keys.json", json}, std::pair{"keys.yaml", yaml}}) {
    SCOPED_TRACE(name);
    const RenderedPreview preview = render(name, text, 20);
    EXPECT_NE(preview.html.find("Truncated \xE2\x80\x94 showing the first 800 rows"),
              std::string::npos);
    EXPECT_EQ(preview.html.find(">key800<"), std::string::npos);
  }
}

std::string canvasOf(std::size_t elements) {
  std::string text = "{\"version\":1,\"elements\":[";
  for (std::size_t i = 0; i < elements; ++i) {
    if (i > 0) text += ',';
    const std::string x = std::to_string(i % 1000 * 20), y = std::to_string(i / 1000 * 20);
    text += std::string("{\"id\":\"e") + std::to_string(i) + "\",\"type\":\"" +
            (i % 3 == 0   ? "rectangle"
             : i % 3 == 1 ? "ellipse"
                          : "arrow") +
            "\",\"x\":" + x + ",\"y\":" + y + ",\"width\":10,\"height\":10" +
            (i % 10 == 0 ? ",\"text\":\"t\"" : "") + "}";
  }
  return text + "]}";
}

TEST_F(HostileInputTest, MillionElementCanvasPreviewsAndThumbnails) {
  const std::size_t n = 1'000'000 / kShrink;
  const std::string canvas = canvasOf(n);
  const RenderedPreview preview = render("big.kcv", canvas, 30);
  // Every element is drawn; none is dropped on the way.
  std::size_t shapes = 0;
  for (std::size_t at = 0;
       (at = preview.html.find("<g class=\"canvas-shape\">", at)) != std::string::npos; ++at) {
    ++shapes;
  }
  EXPECT_EQ(shapes, n);

  const std::filesystem::path file = dir_.write("big.qcv", canvas);
  bounded(30, [&] {
    std::unique_ptr<QLThumbnailReply> reply;
    ThumbnailProvider().provideThumbnail(QLFileThumbnailRequest{file, CGSize{256, 256}},
                                         [&](std::unique_ptr<QLThumbnailReply> r,
                                             std::optional<FileError>) { reply = std::move(r); });
    ASSERT_NE(reply, nullptr);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 256, 256);
    cairo_t* cairo = cairo_create(surface);
    {
      ScopedCurrentContext current(cairo, CGSize{256, 256});
      EXPECT_TRUE(reply->draw());
    }
    EXPECT_EQ(cairo_status(cairo), CAIRO_STATUS_SUCCESS);
    cairo_destroy(cairo);
    cairo_surface_destroy(surface);
  });
}

TEST_F(HostileInputTest, InvalidUtf8AndNulBytesInEveryFileType) {
  const std::string junk("\xFF\xFE\x00\xC3\x28\xE2\x82\x00\xF0\x28\x8C\xBC\xED\xA0\x80\x00", 16);
  const struct {
    const char* name;
    std::string bytes;
    const char* mustContain;
  } rows[] = {
      {"note.md", "# Title " + junk + "\n\n[[link" + junk + "]] *x*", "<h1>"},
      {"front.md", "---\nkey: " + junk + "\n---\nbody " + junk, "body"},
      {"data.json", "{\"key\": \"" + junk + "\"}", "quarn-"},
      {"data.yaml", "key: " + junk + "\n", "quarn-"},
      {"data.yml", junk + junk, "quarn-"},
      {"shapes.kcv",
       "{\"elements\":[{\"id\":\"" + junk + "\",\"type\":\"rectangle\",\"x\":0,\"y\":0," +
           "\"width\":10,\"height\":10,\"text\":\"" + junk + "\"}]}",
       "<main"},
      {"junk.qcv", junk, "Not a readable canvas"},
      {"nul.md", std::string("before\0after", 12), "before"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const RenderedPreview preview = render(row.name, row.bytes, 5);
    EXPECT_NE(preview.html.find(row.mustContain), std::string::npos);
  }
}

TEST_F(HostileInputTest, ImagesThatAreFifosDevicesOrFoldersAreDropped) {
  namespace fs = std::filesystem;
  ASSERT_EQ(::mkfifo((dir_ / "fifo.png").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir_ / "zero.png");
  fs::create_symlink("/dev/urandom", dir_ / "random.jpg");
  fs::create_symlink("/dev/null", dir_ / "null.gif");
  fs::create_symlink("fifo.png", dir_ / "fifo-link.webp");
  fs::create_directory(dir_ / "folder.png");
  dir_.write("real.png", test::tinyPng());
  const RenderedPreview preview = render(
      "note.md",
      "![f](fifo.png) ![z](zero.png) ![r](random.jpg) ![n](null.gif) ![l](fifo-link.webp)\n\n"
      "![d](folder.png) ![a](/dev/zero) ![u](/dev/urandom) ![real](real.png)\n",
      5);
  ASSERT_EQ(preview.attachments.size(), 1u);
  EXPECT_EQ(preview.attachments.begin()->second.data, test::tinyPng());
  EXPECT_EQ(preview.html.find("fifo"), std::string::npos);
  EXPECT_EQ(preview.html.find("zero"), std::string::npos);
}

TEST_F(HostileInputTest, TenThousandReferencesToOneImage) {
  const std::string image = test::tinyPng() + std::string(16 * 1024, '\0');
  dir_.write("pixel.png", image);
  const std::size_t n = 10'000 / kShrink;
  const RenderedPreview preview = render("many.md", repeat("![p](pixel.png) ", n), 20);
  ASSERT_EQ(preview.attachments.size(), n);
  for (const auto& [name, attachment] : preview.attachments) {
    ASSERT_EQ(attachment.data, image) << name;
  }
}

}  // namespace
}  // namespace quarn
