// A second chance for JSON that the parser refuses over a single value. It
// rejects a whole file for one number it cannot hold or one string that is not
// clean UTF-8; both are local damage, so the text is rewritten once and parsed
// again. Stateless; never fails.
#ifndef QUARN_QUICKLOOK_SHARED_JSONREPAIR_H_
#define QUARN_QUICKLOOK_SHARED_JSONREPAIR_H_

#include <string>
#include <string_view>

namespace quarn::JsonRepair {

// `text` with every out-of-range number inside a container replaced by {}
// (wrong for every slot, so only its element is dropped), every integer
// beyond 64 bits given a ".0" (read as the double it denotes), and invalid
// UTF-8 and lone surrogate escapes inside strings replaced by U+FFFD. Anything
// else stays as written, so malformed JSON still fails to parse.
std::string repairForRetry(std::string_view text);

}  // namespace quarn::JsonRepair

#endif  // QUARN_QUICKLOOK_SHARED_JSONREPAIR_H_
