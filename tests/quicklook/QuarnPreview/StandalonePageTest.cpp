#include <string>

#include <gtest/gtest.h>

#include "quicklook/QuarnPreview/StandalonePage.h"

namespace quarn {
namespace {

TEST(StandalonePageTest, InlinesAttachedImagesOnly) {
  QLPreviewReplyAttachments attachments;
  attachments["quarn-image-0"] = QLPreviewReplyAttachment{"foo", *UTType::fromExtension("png")};
  attachments["quarn-image-2"] = QLPreviewReplyAttachment{"", *UTType::fromExtension("svg")};
  const struct {
    std::string page, expected;
  } rows[] = {
      {"<img src=\"cid:quarn-image-0\" alt=\"x\" />",
       "<img src=\"data:image/png;base64,Zm9v\" alt=\"x\" />"},
      {"<img src=\"cid:quarn-image-2\"><img src=\"cid:quarn-image-0\">",
       "<img src=\"data:image/svg+xml;base64,\"><img src=\"data:image/png;base64,Zm9v\">"},
      // Names that are not attachments, and text outside an attribute, stay.
      {"<img src=\"cid:quarn-image-1\">", "<img src=\"cid:quarn-image-1\">"},
      {"<p>cid:quarn-image-0 src=&quot;cid:quarn-image-0&quot;</p>",
       "<p>cid:quarn-image-0 src=&quot;cid:quarn-image-0&quot;</p>"},
      {"src=\"cid:quarn-image-0", "src=\"cid:quarn-image-0"},
      {"", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(StandalonePage::page(row.page, attachments), row.expected) << row.page;
  }
}

}  // namespace
}  // namespace quarn
