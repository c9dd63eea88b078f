#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quicklook/Shared/CanvasDocument.h"

namespace quarn {
namespace {

// The ids of the decoded elements, in order; nothing when decoding failed.
std::optional<std::vector<std::string>> decodedIds(std::string_view json) {
  auto document = CanvasDocument::decode(json);
  if (!document) return std::nullopt;
  std::vector<std::string> ids;
  for (const auto& element : document->elements) ids.push_back(element.id);
  return ids;
}

using Ids = std::vector<std::string>;

// A well-formed element whose `field` (the whole "key":value text) replaces
// the default of that key, or is added when the key is new.
std::string element(std::string id, std::string field = "") {
  std::string json = "{\"id\":\"" + id + "\",\"type\":\"rectangle\",\"x\":1,\"y\":2,";
  json += "\"width\":3,\"height\":4";
  if (!field.empty()) json += "," + field;
  return json + "}";
}

TEST(CanvasDocumentTest, TheFileShapeDecidesWhetherTheWholeDocumentFails) {
  const struct {
    std::string json;
    std::optional<Ids> expected;
  } rows[] = {
      {"{}", Ids{}},
      {"{\"elements\":null}", Ids{}},
      {"{\"elements\":[]}", Ids{}},
      {"{\"version\":3,\"elements\":[" + element("a") + "],\"meta\":{}}", Ids{"a"}},
      {"{\"elements\":{}}", std::nullopt},
      {"{\"elements\":\"[]\"}", std::nullopt},
      {"{\"elements\":7}", std::nullopt},
      {"{\"elements\":true}", std::nullopt},
      {"[" + element("a") + "]", std::nullopt},
      {"null", std::nullopt},
      {"[", std::nullopt},
      {"", std::nullopt},
      {"{\"elements\":[" + element("a") + "]", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(decodedIds(row.json), row.expected) << "json: " << row.json;
  }
}

TEST(CanvasDocumentTest, DropsOnlyTheEntriesThatFailAndKeepsFileOrder) {
  const struct {
    std::string bad;
  } rows[] = {
      {"null"},
      {"12"},
      {"\"b\""},
      {"{}"},
      {"{\"type\":\"rectangle\",\"x\":1,\"y\":2,\"width\":3,\"height\":4}"},  // no id
      {element("b", "\"x\":\"10\"")},  // digits in quotes are not a number
      {element("b", "\"id\":null")},
      {element("b", "\"id\":5")},
      {element("b", "\"type\":null")},
      {element("b", "\"y\":null")},
      {element("b", "\"width\":true")},
      {element("b", "\"height\":{}")},
      {element("b", "\"text\":5")},
  };
  for (const auto& row : rows) {
    const std::string json =
        "{\"elements\":[" + element("a") + "," + row.bad + "," + element("c") + "]}";
    EXPECT_EQ(decodedIds(json), (Ids{"a", "c"})) << "entry: " << row.bad;
  }
}

TEST(CanvasDocumentTest, ReadsEveryFieldAndTheOptionalText) {
  const struct {
    std::string textField;
    std::optional<std::string> expected;
  } rows[] = {
      {"", std::nullopt},
      {"\"text\":null", std::nullopt},
      {"\"text\":\"\"", std::string()},
      {"\"text\":\"  \"", std::string("  ")},
      {"\"text\":\"a\\\"b\\n\\u00e9\"", std::string("a\"b\n\xC3\xA9")},
  };
  for (const auto& row : rows) {
    auto document = CanvasDocument::decode("{\"elements\":[" + element("a", row.textField) + "]}");
    ASSERT_TRUE(document) << row.textField;
    ASSERT_EQ(document->elements.size(), 1u);
    EXPECT_EQ(document->elements[0].text, row.expected) << row.textField;
  }
  auto document = CanvasDocument::decode(
      R"({"elements":[{"height":-0.5,"width":2e1,"y":-7,"x":1.25,"type":"Arrow","id":""}]})");
  ASSERT_TRUE(document);
  const CanvasElement& e = document->elements.at(0);
  EXPECT_EQ(e.id, "");
  EXPECT_EQ(e.type, "Arrow");
  EXPECT_EQ(e.x, 1.25);
  EXPECT_EQ(e.y, -7);
  EXPECT_EQ(e.width, 20);
  EXPECT_EQ(e.height, -0.5);
}

TEST(CanvasDocumentTest, ADuplicateKeyCountsWithItsLastValue) {
  const struct {
    std::string json;
    std::optional<Ids> expected;
    double x;
  } rows[] = {
      {"{\"elements\":[" + element("a", "\"x\":9") + "]}", Ids{"a"}, 9},
      {"{\"elements\":[" + element("a", "\"x\":\"9\"") + "]}", Ids{}, 0},
      {"{\"elements\":[" + element("a", "\"text\":5,\"text\":\"ok\"") + "]}", Ids{"a"}, 1},
      {"{\"elements\":[" + element("a") + "],\"elements\":null}", Ids{}, 0},
      {"{\"elements\":7,\"elements\":[" + element("b") + "]}", Ids{"b"}, 1},
  };
  for (const auto& row : rows) {
    auto document = CanvasDocument::decode(row.json);
    ASSERT_EQ(decodedIds(row.json), row.expected) << row.json;
    if (!document->elements.empty()) {
      EXPECT_EQ(document->elements[0].x, row.x) << row.json;
    }
  }
}

TEST(CanvasDocumentTest, ANumberTheParserCannotHoldDropsOnlyItsElement) {
  const struct {
    std::string bad;
    std::optional<Ids> expected;
  } rows[] = {
      {element("b", "\"x\":1e400"), Ids{"a", "c"}},
      {element("b", "\"height\":-1E+999999999999999999999"), Ids{"a", "c"}},
      {element("b", "\"text\":1e400"), Ids{"a", "c"}},
      {element("b", "\"extra\":[1e400]"), Ids{"a", "b", "c"}},  // ignored key
      {"1e400", Ids{"a", "c"}},
      {element("b", "\"x\":1e-400"), Ids{"a", "b", "c"}},  // underflows to zero
      {element("b", "\"x\":100000000000000000000"), Ids{"a", "b", "c"}},
      {element("b", "\"x\":-9223372036854775809"), Ids{"a", "b", "c"}},
      {element("b", "\"text\":\"1e400\""), Ids{"a", "b", "c"}},  // a string stays a string
      {element("b", "\"x\":01"), std::nullopt},                  // not JSON: still fails
  };
  for (const auto& row : rows) {
    const std::string json =
        "{\"elements\":[" + element("a") + "," + row.bad + "," + element("c") + "]}";
    EXPECT_EQ(decodedIds(json), row.expected) << "entry: " << row.bad;
  }
  EXPECT_FALSE(CanvasDocument::decode("{\"elements\":1e400}"));
  EXPECT_FALSE(CanvasDocument::decode("1e400"));

  auto document = CanvasDocument::decode(
      "{\"elements\":[" + element("a", "\"x\":100000000000000000000,\"y\":1e-400") + "]}");
  ASSERT_TRUE(document);
  EXPECT_EQ(document->elements.at(0).x, 1e20);
  EXPECT_EQ(document->elements.at(0).y, 0);
}

TEST(CanvasDocumentTest, BrokenTextInsideStringsReadsAsReplacementCharacters) {
  const std::string kReplacement = "\xEF\xBF\xBD";
  const struct {
    std::string rawText;  // between the quotes, as in the file
    std::string expected;
  } rows[] = {
      {"caf\xE9", "caf" + kReplacement},  // Latin-1 é
      {"\xFF\xFE", kReplacement + kReplacement},
      {"a\xE2\x82", "a" + kReplacement},  // truncated three-byte sequence
      {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement},  // encoded surrogate
      {"\\ud800x", kReplacement + "x"},
      {"\\udc00", kReplacement},
      {"\\ud83d\\ude00", "\xF0\x9F\x98\x80"},  // a real pair stays
  };
  for (const auto& row : rows) {
    const std::string json = "{\"elements\":[" + element("a") + "," +
                             element("b", "\"text\":\"" + row.rawText + "\"") + "]}";
    auto document = CanvasDocument::decode(json);
    ASSERT_TRUE(document) << row.rawText;
    ASSERT_EQ(document->elements.size(), 2u) << row.rawText;
    EXPECT_EQ(document->elements[1].text, row.expected) << row.rawText;
  }
  EXPECT_FALSE(CanvasDocument::decode("{\"elements\":[]\xFF}"));
}

TEST(CanvasDocumentTest, BytesReadInPlaceDecodeAsACopyOfThemWould) {
  // Whatever lies in the spare capacity after the bytes must not count.
  const std::string rows[] = {
      "{\"elements\":[" + element("a") + "]}",
      "{\"elements\":[" + element("a") + "]",  // cut short: fails
      "{\"elements\":[" + element("a") + "]} ",
      "{\"elements\":[" + element("a", "\"x\":7") + "]}",
      "{\"elements\":[" + element("a", "\"text\":\"t") + "]}",  // unterminated string
      "{\"elements\":null,\"n\":12",
  };
  for (const std::string& json : rows) {
    std::string bytes = json + std::string(128, '"') + "]}";
    bytes.resize(json.size());
    ASSERT_GE(bytes.capacity() - bytes.size(), 64u);
    const auto inPlace = CanvasDocument::decode(bytes, bytes.capacity() - bytes.size());
    const auto copied = CanvasDocument::decode(json);
    ASSERT_EQ(bool(inPlace), bool(copied)) << json;
    if (!copied) continue;
    ASSERT_EQ(inPlace->elements.size(), copied->elements.size()) << json;
    for (std::size_t i = 0; i < copied->elements.size(); ++i) {
      EXPECT_EQ(inPlace->elements[i].x, copied->elements[i].x) << json;
      EXPECT_EQ(inPlace->elements[i].text, copied->elements[i].text) << json;
    }
  }
}

TEST(CanvasDocumentTest, GroupsAreKeptButNotDrawable) {
  auto document = CanvasDocument::decode(
      "{\"elements\":[" + element("a", "\"type\":\"group\"") + "," +
      element("b", "\"type\":\"Group\"") + "," + element("c", "\"type\":\"groups\"") + "," +
      element("d", "\"type\":\"group\"") + "," + element("e", "\"type\":\"text\"") + "]}");
  ASSERT_TRUE(document);
  EXPECT_EQ(document->elements.size(), 5u);
  std::vector<std::string> drawn;
  for (const CanvasElement* e : document->drawableElements()) drawn.push_back(e->id);
  EXPECT_EQ(drawn, (Ids{"b", "c", "e"}));
}

CanvasElement shape(std::string type, double x, double y, double width, double height) {
  CanvasElement e;
  e.type = std::move(type);
  e.x = x;
  e.y = y;
  e.width = width;
  e.height = height;
  return e;
}

TEST(CanvasDocumentTest, ContentBoundsIsTheUnionOfTheNormalizedDrawableBoxes) {
  const struct {
    const char* name;
    std::vector<CanvasElement> elements;
    std::optional<Rect> expected;
  } rows[] = {
      {"nothing", {}, std::nullopt},
      {"groups only", {shape("group", 0, 0, 5, 5), shape("group", 9, 9, 1, 1)}, std::nullopt},
      {"negative extents", {shape("rectangle", 100, 50, -20, -10)}, Rect{80, 40, 20, 10}},
      {"zero size point", {shape("rectangle", 5, 5, 0, 0)}, Rect{5, 5, 0, 0}},
      {"two boxes",
       {shape("rectangle", 0, 0, 10, 10), shape("ellipse", 20, 30, 5, 5)},
       Rect{0, 0, 25, 35}},
      {"group ignored",
       {shape("group", -500, -500, 1000, 1000), shape("text", 1, 2, 3, 4)},
       Rect{1, 2, 3, 4}},
      {"line and point",
       {shape("arrow", 0, 0, 10, 0), shape("rectangle", -3, 7, 0, 0)},
       Rect{-3, 0, 13, 7}},
  };
  for (const auto& row : rows) {
    CanvasDocument document{row.elements};
    EXPECT_EQ(document.contentBounds(), row.expected) << row.name;
  }
}

TEST(CanvasDocumentTest, FileExtensionsAreTheTwoLowerCaseNames) {
  EXPECT_EQ(CanvasDocument::fileExtensions(), (std::set<std::string, std::less<>>{"kcv", "qcv"}));
  const struct {
    const char* path;
    bool canvas;
  } rows[] = {{"a.kcv", true},      {"dir/B.QCV", true}, {".kcv", true},    {"a.kcv.", false},
              {"a.kcv.bak", false}, {"kcv", false},      {"a.json", false}, {"x.kcv/a", false}};
  for (const auto& row : rows) {
    EXPECT_EQ(CanvasDocument::isCanvasFile(row.path), row.canvas) << row.path;
  }
}

TEST(CanvasDocumentTest, DecodesALargeCanvasInFileOrder) {
  constexpr int kCount = 200'000;  // quadratic work here would take hours
  std::string json = "{\"elements\":[";
  for (int i = 0; i < kCount; ++i) {
    if (i > 0) json += ',';
    json += i % 2 ? "{\"id\":\"" : "{\"type\":\"rectangle\",\"id\":\"";
    json += std::to_string(i);
    json += i % 2 ? "\",\"type\":\"ellipse\"" : "\"";
    json += ",\"x\":" + std::to_string(i) + ",\"y\":0,\"width\":1,\"height\":1}";
  }
  json += "]}";
  auto document = CanvasDocument::decode(json);
  ASSERT_TRUE(document);
  ASSERT_EQ(document->elements.size(), size_t{kCount});
  EXPECT_EQ(document->elements.back().id, std::to_string(kCount - 1));
  EXPECT_EQ(document->elements[1].type, "ellipse");
  EXPECT_EQ(document->contentBounds(), (Rect{0, 0, kCount, 1}));
}

}  // namespace
}  // namespace quarn
