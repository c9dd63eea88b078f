// The preview page made to stand alone: its "cid:" image references replaced
// by "data:" URIs of the attachments, so any browser opened on the one file
// shows the images. Stateless; never fails.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_STANDALONEPAGE_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_STANDALONEPAGE_H_

#include <string>
#include <string_view>

#include "platform/QuickLookPreview.h"

namespace quarn::StandalonePage {

// `page` with every attribute value written as `src="cid:NAME"`, NAME a key
// of `attachments`, turned into `src="data:TYPE;base64,..."` of that
// attachment's media type and bytes. Everything else, references to names
// that are not attachments included, is kept byte for byte. Text of the note
// cannot forge such an attribute: the page escapes its quotes.
std::string page(std::string_view page, const QLPreviewReplyAttachments& attachments);

}  // namespace quarn::StandalonePage

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_STANDALONEPAGE_H_
