// The failures of the YAML layer: the event parser's own error state (reader,
// scanner, parser, memory), the composer's (undefined alias, nesting too deep)
// and duplicate keys. A plain value; its description is one line for people.
#ifndef QUARN_YAML_YAMLERROR_H_
#define QUARN_YAML_YAMLERROR_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "yaml/Node.h"

namespace quarn::yaml {

struct YamlError {
  // The design's full list: this layer neither writes nor decodes, so writer,
  // emitter, representer and dataCouldNotBeDecoded are never raised here.
  enum class Kind {
    reader,
    scanner,
    parser,
    composer,
    writer,
    emitter,
    representer,
    dataCouldNotBeDecoded,
    duplicatedKeysInMapping,
    memory,
  };

  Kind kind = Kind::parser;
  std::string problem;
  Mark problemMark;  // scanner, parser, composer, duplicatedKeysInMapping
  std::optional<std::string> context;
  Mark contextMark;
  std::size_t offset = 0;                   // reader: byte offset into the input it was fed
  int value = -1;                           // reader: the offending character or byte; -1 for none
  std::vector<std::string> duplicates;      // duplicatedKeysInMapping: one text per key
  std::shared_ptr<const std::string> yaml;  // the text that failed

  // One line naming the problem and its position, e.g. "found undefined alias
  // at line 2, column 4". Never empty.
  std::string description() const;
};

}  // namespace quarn::yaml

#endif  // QUARN_YAML_YAMLERROR_H_
