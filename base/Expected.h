// The result type of every operation that can fail: a value or an error value.
// An alias of tl::expected, spelled like C++23 std::expected so it can be swapped
// once every supported compiler's standard library has <expected>.
#ifndef QUARN_BASE_EXPECTED_H_
#define QUARN_BASE_EXPECTED_H_

#include <tl/expected.hpp>

namespace quarn {

template <class T, class E>
using Expected = tl::expected<T, E>;

template <class E>
using Unexpected = tl::unexpected<E>;

}  // namespace quarn

#endif  // QUARN_BASE_EXPECTED_H_
