#include "quicklook/QuarnPreview/StandalonePage.h"

#include "quicklook/QuarnPreview/Mhtml.h"

namespace quarn::StandalonePage {

std::string page(std::string_view page, const QLPreviewReplyAttachments& attachments) {
  constexpr std::string_view kReference = "src=\"cid:";
  std::string out;
  out.reserve(page.size());
  std::size_t copied = 0;
  for (std::size_t at = page.find(kReference); at != std::string_view::npos;
       at = page.find(kReference, at + 1)) {
    const std::size_t nameAt = at + kReference.size();
    const std::size_t close = page.find('"', nameAt);
    if (close == std::string_view::npos) break;
    const auto attachment = attachments.find(std::string(page.substr(nameAt, close - nameAt)));
    if (attachment == attachments.end()) continue;
    out.append(page, copied, at - copied);
    out += "src=\"data:";
    out += attachment->second.contentType.mimeType;
    out += ";base64,";
    out += Mhtml::base64(attachment->second.data);
    out += '"';
    copied = close + 1;
  }
  out.append(page, copied, std::string_view::npos);
  return out;
}

}  // namespace quarn::StandalonePage
