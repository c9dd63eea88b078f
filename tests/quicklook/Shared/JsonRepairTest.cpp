#include <string>

#include <gtest/gtest.h>

#include "quicklook/Shared/JsonRepair.h"

namespace quarn {
namespace {

TEST(JsonRepairTest, RewritesOnlyTheValuesTheParserRefuses) {
  const struct {
    std::string input, expected;
  } rows[] = {
      {"[1e400, -1e400]", "[{}, {}]"},
      {"1e400", "1e400"},  // a top-level number must still fail, not become a canvas
      {"[1e-400, 0.5, -0, 12]", "[1e-400, 0.5, -0, 12]"},
      {"[18446744073709551616]", "[18446744073709551616.0]"},
      {"[18446744073709551615, -9223372036854775808]",
       "[18446744073709551615, -9223372036854775808]"},
      {R"(["\ud800", "\udc00x"])", R"(["\uFFFD", "\uFFFDx"])"},
      {R"(["\ud83d\ude00", "\u00e9\n\""])", R"(["\ud83d\ude00", "\u00e9\n\""])"},
      {"[\"a\xFF"
       "b\"]",
       "[\"a\xEF\xBF\xBD"
       "b\"]"},
      {"{\"1e400\": 1e400}", "{\"1e400\": {}}"},
      {"[1, 2", "[1, 2"},
      {"[01]", "[01]"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(JsonRepair::repairForRetry(row.input), row.expected) << row.input;
  }
}

}  // namespace
}  // namespace quarn
