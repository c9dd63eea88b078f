#include "yaml/Arena.h"

#include <mutex>
#include <unordered_map>
#include <variant>
#include <vector>

#include "yaml/Resolver.h"

namespace quarn::yaml {

// The arena's tables beside its blocks: the kept inputs, the names past the
// code table, and, under the lock, the side table and the built structs.
struct Arena::Tables {
  std::unordered_map<std::string_view, std::string_view> overflowNames;
  std::vector<std::shared_ptr<const std::string>> kept;
  std::mutex mutex;
  std::unordered_map<const Node::Payload*, Extra> extras;
  std::unordered_map<const Node::Payload*,
                     std::variant<Node::Scalar, Node::Mapping, Node::Sequence, Node::Alias>>
      built;
};

Arena::Arena(std::shared_ptr<const Resolver> rules, std::shared_ptr<const Constructor> builder)
    : resolver(std::move(rules)), constructor(std::move(builder)), tables_(new Tables) {
  names_[kTagImplicit] = kImplicitTag;
  names_[kTagNonSpecific] = kNonSpecificTag;
  names_[kTagStr] = kStrTag;
  names_[kTagSeq] = kSeqTag;
  names_[kTagMap] = kMapTag;
  nameCount_ = kTagFirstNamed;
  for (const Resolver::Rule& rule : resolver->rules()) {
    if (nameCount_ == kTagInExtra) break;
    names_[nameCount_++] = rule.tag;
  }
  ruleEnd_ = nameCount_;
}

Arena::~Arena() = default;

void Arena::keep(std::shared_ptr<const std::string> text) {
  tables_->kept.push_back(std::move(text));
}

std::uint8_t Arena::explicitTag(std::string_view name) {
  for (std::uint8_t code = kTagNonSpecific; code < nameCount_; ++code) {
    if (names_[code] == name) return code;
  }
  if (nameCount_ == kTagInExtra) return kTagInExtra;
  names_[nameCount_] = copy(name);
  return nameCount_++;
}

std::string_view Arena::keepName(std::string_view name) {
  auto& names = tables_->overflowNames;
  auto found = names.find(name);
  if (found == names.end()) {
    const std::string_view kept = copy(name);
    found = names.emplace(kept, kept).first;
  }
  return found->second;
}

std::uint8_t Arena::resolvedCode(std::string_view name) const {
  for (std::uint8_t code = kTagFirstNamed; code < ruleEnd_; ++code) {
    if (names_[code].data() == name.data() && names_[code].size() == name.size()) return code;
  }
  for (std::uint8_t code : {kTagStr, kTagSeq, kTagMap}) {
    if (names_[code] == name) return code;
  }
  for (std::uint8_t code = kTagFirstNamed; code < ruleEnd_; ++code) {
    if (names_[code] == name) return code;
  }
  for (const Resolver::Rule& rule : resolver->rules()) {
    if (rule.tag == name) return kTagInExtra;
  }
  return kTagStr;
}

Arena::Extra& Arena::extraFor(const Node::Payload& record) {
  std::lock_guard lock(tables_->mutex);
  record.flags |= Node::Payload::kExtra;
  return tables_->extras[&record];
}

const Arena::Extra& Arena::extra(const Node::Payload& record) const {
  std::lock_guard lock(tables_->mutex);
  return tables_->extras.at(&record);
}

template <typename T>
const T* Arena::builtWith(const Node::Payload& record, T (*build)(const Node::Payload&)) {
  {
    std::lock_guard lock(tables_->mutex);
    auto found = tables_->built.find(&record);
    if (found != tables_->built.end()) return &std::get<T>(found->second);
  }
  // Built outside the lock, which reading the side table takes; the first
  // struct stored wins.
  T value = build(record);
  std::lock_guard lock(tables_->mutex);
  return &std::get<T>(tables_->built.emplace(&record, std::move(value)).first->second);
}

const Node::Scalar* Arena::built(const Node::Payload& record,
                                 Node::Scalar (*build)(const Node::Payload&)) {
  return builtWith(record, build);
}
const Node::Mapping* Arena::built(const Node::Payload& record,
                                  Node::Mapping (*build)(const Node::Payload&)) {
  return builtWith(record, build);
}
const Node::Sequence* Arena::built(const Node::Payload& record,
                                   Node::Sequence (*build)(const Node::Payload&)) {
  return builtWith(record, build);
}
const Node::Alias* Arena::built(const Node::Payload& record,
                                Node::Alias (*build)(const Node::Payload&)) {
  return builtWith(record, build);
}

}  // namespace quarn::yaml
