// The preview page and its attachments as one MHTML archive (multipart/related),
// so a browser opened on a file shows the page with its "cid:" images. Stateless;
// never fails.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_MHTML_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_MHTML_H_

#include <string>
#include <string_view>

#include "platform/QuickLookPreview.h"

namespace quarn::Mhtml {

// The archive of `page` (UTF-8 HTML, written unchanged as the binary root part)
// and the reply's `attachments` (each a base64 part with "Content-ID: <NAME>" and the
// attachment type's media type). `title` becomes the Subject header: printable
// ASCII as it is, other text as RFC 2047 UTF-8 encoded words on folded lines
// under 76 characters; control characters become "_", bytes that are not
// UTF-8 U+FFFD. Every header, boundary and base64 line ends in CR LF; the
// boundary occurs nowhere in the content.
std::string archive(std::string_view page, const QLPreviewReplyAttachments& attachments,
                    std::string_view title = "");

// The standard base64 encoding of `bytes` in lines of 76 characters, each
// ended by CR LF ("" for no bytes).
std::string base64Lines(std::string_view bytes);

// The standard base64 encoding of `bytes` on one line, without a line end.
std::string base64(std::string_view bytes);

}  // namespace quarn::Mhtml

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_MHTML_H_
