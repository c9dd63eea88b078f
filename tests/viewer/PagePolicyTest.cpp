// Where the viewer's web view may go, and how light or dark its pages are.
#include <gtest/gtest.h>

#include "viewer/Appearance.h"
#include "viewer/PagePolicy.h"

namespace quarn {
namespace {

TEST(PagePolicyTest, LoadsOnlyThePageAndSendsClickedWebLinksOutside) {
  const char* page = "quarn-page://preview/3";
  const struct {
    const char* target;
    bool clicked;
    LinkAction expected;
  } rows[] = {
      {"quarn-page://preview/3", false, LinkAction::load},
      {"quarn-page://preview/3#section", true, LinkAction::load},
      {"quarn-page://preview/31", false, LinkAction::refuse},
      {"quarn-page://preview/2", true, LinkAction::refuse},
      {"https://example.org/a", true, LinkAction::openOutside},
      {"HTTP://example.org", true, LinkAction::openOutside},
      {"mailto:sam@example.org", true, LinkAction::openOutside},
      {"https://example.org/a", false, LinkAction::refuse},  // not the user's doing
      {"http:example.org", true, LinkAction::refuse},
      {"file:///etc/passwd", true, LinkAction::refuse},
      {"javascript:alert(1)", true, LinkAction::refuse},
      {"cid:quarn-image-0", true, LinkAction::refuse},
      {"data:text/html,x", true, LinkAction::refuse},
      {"other.md", true, LinkAction::refuse},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(linkAction(row.target, page, row.clicked), row.expected) << row.target;
  }
  EXPECT_EQ(linkAction("quarn-page://preview/3", "", false), LinkAction::refuse);
}

TEST(PagePolicyTest, ForcedSchemesWinAndTheDesktopValueDecidesOtherwise) {
  EXPECT_FALSE(prefersDark(ColorScheme::light, 1));
  EXPECT_TRUE(prefersDark(ColorScheme::dark, 2));
  EXPECT_TRUE(prefersDark(ColorScheme::system, 1));
  EXPECT_FALSE(prefersDark(ColorScheme::system, 2));
  EXPECT_FALSE(prefersDark(ColorScheme::system, 0));
}

}  // namespace
}  // namespace quarn
