// What the viewer's web view may load and follow: the page itself, its
// "cid:" images and "data:" URIs, and nothing else. A clicked web or mail
// link goes to the user's default application instead. Stateless.
#ifndef QUARN_VIEWER_PAGEPOLICY_H_
#define QUARN_VIEWER_PAGEPOLICY_H_

#include <string_view>

namespace quarn {

// Sent with every page: subresources only from attachments and inline data,
// styles only from the page's own stylesheet, no script at all.
inline constexpr std::string_view kContentSecurityPolicy =
    "default-src 'none'; img-src cid: data:; style-src 'unsafe-inline'; font-src data:";

enum class LinkAction {
  load,         // the shown page itself, reloaded or at one of its anchors
  openOutside,  // an http, https or mailto link the user clicked
  refuse,       // everything else: the preview never navigates
};

// Decides a navigation of the web view to `target` while `pageUri` is shown;
// `clicked` tells whether the user followed a link.
LinkAction linkAction(std::string_view target, std::string_view pageUri, bool clicked);

}  // namespace quarn

#endif  // QUARN_VIEWER_PAGEPOLICY_H_
