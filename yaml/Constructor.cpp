#include "yaml/Constructor.h"

namespace quarn::yaml {

const std::shared_ptr<const Constructor>& Constructor::defaultConstructor() {
  static const std::shared_ptr<const Constructor> instance = std::make_shared<const Constructor>();
  return instance;
}

}  // namespace quarn::yaml
