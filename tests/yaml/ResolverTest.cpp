#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "yaml/Resolver.h"

namespace quarn::yaml {
namespace {

TEST(ResolverTest, DefaultHasSevenRulesInOrder) {
  const auto& rules = Resolver::defaultResolver()->rules();
  const std::vector<std::string> expected = {
      "tag:yaml.org,2002:bool",  "tag:yaml.org,2002:int",  "tag:yaml.org,2002:float",
      "tag:yaml.org,2002:merge", "tag:yaml.org,2002:null", "tag:yaml.org,2002:timestamp",
      "tag:yaml.org,2002:value"};
  ASSERT_EQ(rules.size(), expected.size());
  for (std::size_t i = 0; i < rules.size(); ++i) EXPECT_EQ(rules[i].tag, expected[i]);
}

TEST(ResolverTest, ResolvesByFirstMatchingRule) {
  const struct {
    const char* text;
    const char* tag;
  } rows[] = {
      {"yes", "bool"},
      {"OFF", "bool"},
      {"tRuE", "str"},
      {"y", "str"},
      {"0", "int"},
      {"017", "int"},
      {"0o17", "int"},
      {"0b101", "int"},
      {"-0x1F", "int"},
      {"1_000", "int"},
      {"190:20:30", "int"},
      {"+12", "int"},
      {"09", "float"},
      {"1.5", "float"},
      {"1e3", "float"},
      {".5", "float"},
      {"-.inf", "float"},
      {".NaN", "float"},
      {"1.", "float"},
      {"inf", "str"},
      {".nan.", "str"},
      {"<<", "merge"},
      {"<<<", "str"},
      {"", "null"},
      {"~", "null"},
      {"Null", "null"},
      {"nULL", "str"},
      {"2001-12-14", "timestamp"},
      {"2001-12-14t21:59:43.10-05:00", "timestamp"},
      {"2001-12-14 21:59:43.10 Z", "timestamp"},
      {"2001-12-14x", "str"},
      {"=", "value"},
      {"==", "str"},
      {"12:30", "int"},
      {"hello", "str"},
      {"1 2", "str"},
      {"yes\nno", "str"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Resolver::defaultResolver()->resolveTag(row.text),
              std::string("tag:yaml.org,2002:") + row.tag)
        << "text: \"" << row.text << "\"";
  }
}

TEST(ResolverTest, DefaultIsBuiltOnceAcrossThreads) {
  std::vector<const Resolver*> seen(4);
  std::vector<std::thread> threads;
  for (auto& slot : seen)
    threads.emplace_back([&slot] { slot = Resolver::defaultResolver().get(); });
  for (auto& thread : threads) thread.join();
  for (const Resolver* resolver : seen) EXPECT_EQ(resolver, Resolver::defaultResolver().get());
}

TEST(ResolverTest, CustomRulesReplaceTheDefaults) {
  auto rule = Resolver::Rule::make("tag:example,2024:word", "^(?:w+)$");
  ASSERT_TRUE(rule);
  Resolver resolver({std::move(*rule)});
  EXPECT_EQ(resolver.resolveTag("www"), "tag:example,2024:word");
  EXPECT_EQ(resolver.resolveTag("1"), "tag:yaml.org,2002:str");
  EXPECT_FALSE(Resolver::Rule::make("bad", "(unclosed"));
}

}  // namespace
}  // namespace quarn::yaml
