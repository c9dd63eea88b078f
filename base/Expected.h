// The result type of every operation that can fail: a value or an error value.
// An alias of tl::expected, spelled like C++23 std::expected so it can be swapped
// once every supported compiler's standard library has <expected>.
#ifndef QUARN_BASE_EXPECTED_H_
#define QUARN_BASE_EXPECTED_H_

#include <tl/expected.hpp>

namespace quarn {

template <class T, class E>
using Expected = tl::expected<T, E>;

// A class rather than an alias so that `Unexpected(error)` deduces its type on
// clang 14 too, which lacks deduction for alias templates.
template <class E>
class Unexpected : public tl::unexpected<E> {
 public:
  using tl::unexpected<E>::unexpected;
};
template <class E>
Unexpected(E) -> Unexpected<E>;

}  // namespace quarn

#endif  // QUARN_BASE_EXPECTED_H_
