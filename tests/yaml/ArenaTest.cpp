#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "yaml/Compose.h"
#include "yaml/Constructor.h"
#include "yaml/Resolver.h"

namespace quarn::yaml {
namespace {

// A sequence of scalars of random sizes, each of its own letter: plain ones
// are views into the input, escaped and block ones copies in the arena, some
// past the large-allocation size, over several blocks. Every node, reached
// from one item kept after the parser is gone, finds its arena (texts, marks,
// built structs, anchors) and keeps its bytes.
TEST(ArenaTest, NodesFindTheirArenaAndKeepTheirBytesPastTheParser) {
  std::mt19937 random(3);
  std::string text;
  std::vector<std::string> expected;
  for (int i = 0; i < 30000; ++i) {
    const std::size_t size = random() % 200 == 0 ? 70000 + random() % 1000 : 1 + random() % 60;
    const std::string letters(size, static_cast<char>('a' + i % 26));
    switch (random() % 3) {
      case 0:
        text += "- &a" + std::to_string(i) + " " + letters + "\n";
        expected.push_back(letters);
        break;
      case 1:
        text += "- \"\\t" + letters + "\"\n";
        expected.push_back("\t" + letters);
        break;
      default:
        text += "- |\n  " + letters + "\n";
        expected.push_back(letters + "\n");
    }
  }
  std::optional<Node> root;
  {
    auto sequence = compose_all(text, Resolver::defaultResolver(),
                                Constructor::defaultConstructor(), Parser::Encoding::utf8);
    ASSERT_TRUE(sequence);
    auto first = sequence->next();
    ASSERT_TRUE(first && *first);
    root = **first;
  }
  const Items<Node> items = root->nodes();
  ASSERT_EQ(items.size(), expected.size());
  std::size_t line = 1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Node::Scalar* scalar = items[i].scalar();
    ASSERT_NE(scalar, nullptr) << i;
    ASSERT_EQ(scalar->string, expected[i]) << i;
    ASSERT_EQ(scalar->mark.line, line) << i;
    if (scalar->anchor) {
      EXPECT_EQ(scalar->anchor->name, "a" + std::to_string(i));
    }
    EXPECT_EQ(items[i].resolvedTag(), kStrTag) << i;
    line += scalar->style == Node::Scalar::Style::literal ? 2 : 1;
  }
}

}  // namespace
}  // namespace quarn::yaml
