// Plain geometry values shared by the platform stand-ins: sizes in the
// service's units. Immutable values; thread-safe.
#ifndef QUARN_PLATFORM_GEOMETRY_H_
#define QUARN_PLATFORM_GEOMETRY_H_

namespace quarn {

// A width and a height; no invariant (zero, negative and non-finite allowed).
struct CGSize {
  double width = 0;
  double height = 0;
  bool operator==(const CGSize&) const = default;
};

}  // namespace quarn

#endif  // QUARN_PLATFORM_GEOMETRY_H_
