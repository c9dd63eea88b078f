#include "viewer/PagePolicy.h"

#include <algorithm>
#include <array>
#include <string>

#include "base/Text.h"

namespace quarn {

LinkAction linkAction(std::string_view target, std::string_view pageUri, bool clicked) {
  if (!pageUri.empty() && target.starts_with(pageUri)) {
    const std::string_view rest = target.substr(pageUri.size());
    if (rest.empty() || rest.front() == '#') return LinkAction::load;
  }
  if (!clicked) return LinkAction::refuse;
  const auto colon = target.find(':');
  if (colon == std::string_view::npos) return LinkAction::refuse;
  const std::string scheme = text::asciiLowercased(target.substr(0, colon));
  constexpr std::array<std::string_view, 3> kOutside = {"http", "https", "mailto"};
  if (std::find(kOutside.begin(), kOutside.end(), scheme) == kOutside.end()) {
    return LinkAction::refuse;
  }
  // A web link needs a host to open anything.
  if (scheme != "mailto" && !target.substr(colon).starts_with("://")) return LinkAction::refuse;
  return LinkAction::openOutside;
}

}  // namespace quarn
