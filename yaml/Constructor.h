// The constructor every tag carries. The preview only composes trees and never
// builds typed values, so it holds nothing; the default one is made once.
#ifndef QUARN_YAML_CONSTRUCTOR_H_
#define QUARN_YAML_CONSTRUCTOR_H_

#include <memory>

namespace quarn::yaml {

class Constructor {
 public:
  // The process-wide constructor, built once, thread-safely.
  static const std::shared_ptr<const Constructor>& defaultConstructor();
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_CONSTRUCTOR_H_
