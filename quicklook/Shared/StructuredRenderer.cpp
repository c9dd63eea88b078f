#include "quicklook/Shared/StructuredRenderer.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Text.h"
#include "base/Utf8.h"
#include "base/WhiteSpace.h"
#include "quicklook/Shared/HTML.h"
#include "yaml/Compose.h"
#include "yaml/Constructor.h"
#include "yaml/Resolver.h"

namespace quarn::StructuredRenderer {

namespace {

using yaml::Node;

constexpr int kMaxRows = 800;
constexpr int kIndentStep = 16;
constexpr int kMaxIndentLevels = 8;
// The row budget does not bound the size: chip lists and aliased text have no
// limit of their own. The grid stops, as when the budget is spent, before the
// fragment grows past kBytesPerCharacter times the text's characters (never
// more than its file's bytes) plus kFixedBytes, which leaves room for the page
// around it within six times the file plus 16 MiB.
constexpr std::size_t kBytesPerCharacter = 6;
constexpr std::size_t kFixedBytes = std::size_t{15} << 20;

locale_t cLocale() {
  static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return locale;
}

// What the C-locale strtod accepts and consumes whole (hex floats, inf,
// infinity and nan included), with no leading white space.
bool isNumber(std::string_view view) {
  if (view.empty()) return false;
  const std::string text(view);  // strtod wants a terminated text
  switch (text.front()) {
    case '\0':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case ' ':
      return false;
    default:
      break;
  }
  char* end = nullptr;
  strtod_l(text.c_str(), &end, cLocale());
  return end == text.c_str() + text.size();
}

void appendSpan(const char* head, std::string_view text, std::string& out) {
  out += head;
  HTML::escape(text, out);
  out += "</span>";
}

void scalar(const Node& node, std::string& out) {
  if (node.kind() != Node::Kind::scalar) return;
  // The plain accessors: a grid of many chips must not build a struct each.
  const std::string_view value = node.string();
  using Style = Node::Scalar::Style;
  if (node.style() != Style::singleQuoted && node.style() != Style::doubleQuoted) {
    // Only a handful of short words matter here; skip lower-casing long text.
    if (value.size() <= 5) {
      // ASCII lower case is enough: no other character lower-cases into the
      // letters of the words compared against.
      const std::string l = text::asciiLowercased(value);
      if (l == "true" || l == "false" || l == "yes" || l == "no") {
        return appendSpan("<span class=\"quarn-bool\">", value, out);
      }
      if (l == "null" || l == "~" || l.empty()) {
        out += "<span class=\"quarn-faint\">null</span>";
        return;
      }
    }
    if (isNumber(value)) return appendSpan("<span class=\"quarn-number\">", value, out);
  }
  appendSpan("<span class=\"quarn-string\">", value, out);
}

// Appends one row, or nothing and false when it would take `rows` past `limit`.
bool appendRow(std::string_view key, int depth, std::string& rows, std::size_t limit,
               auto&& valueCell) {
  const std::size_t start = rows.size();
  rows += "<tr><th";
  const int indent = std::min(depth, kMaxIndentLevels) * kIndentStep;
  if (indent >= 1) {
    rows += " style=\"padding-left:";
    rows += std::to_string(indent);
    rows += "px\"";
  }
  rows += ">";
  HTML::escape(key, rows);
  rows += "</th><td>";
  valueCell(rows);
  rows += "</td></tr>";
  if (rows.size() <= limit) return true;
  rows.resize(start);
  return false;
}

// Every call below the root has a key and spends a row before it recurses, so
// the budget bounds the recursion, however deep aliases make the tree.
void emit(const Node& node, const std::optional<std::string>& key, int depth, std::string& rows,
          int& budget, std::size_t limit) {
  if (budget < 1) return;
  const std::string_view keyText = key ? std::string_view(*key) : std::string_view();
  // A row that does not fit ends the grid.
  const auto spend = [&budget](bool fits) { budget = fits ? budget - 1 : 0; };
  switch (node.kind()) {
    case Node::Kind::scalar:
      spend(appendRow(keyText, depth, rows, limit, [&](std::string& out) { scalar(node, out); }));
      return;
    case Node::Kind::alias:
      spend(appendRow(keyText, depth, rows, limit, [](std::string& out) {
        out += "<span class=\"quarn-faint\">*alias</span>";
      }));
      return;
    case Node::Kind::mapping: {
      const auto pairs = node.pairs();
      if (key) {
        spend(appendRow(keyText, depth, rows, limit, [&](std::string& out) {
          if (pairs.empty()) out += "<span class=\"quarn-faint\">{}</span>";
        }));
      }
      const int childDepth = key ? depth + 1 : depth;
      for (const auto& [childKey, value] : pairs) {
        if (budget < 1) break;
        emit(value, yaml::constructString(childKey).value_or("?"), childDepth, rows, budget, limit);
      }
      return;
    }
    case Node::Kind::sequence: {
      const auto items = node.nodes();
      bool allScalars = true;
      for (const Node& item : items) allScalars = allScalars && item.kind() == Node::Kind::scalar;
      if (allScalars) {
        spend(appendRow(keyText, depth, rows, limit, [&](std::string& out) {
          if (items.empty()) {
            out += "<span class=\"quarn-faint\">[]</span>";
            return;
          }
          out += "<ul class=\"quarn-inline-list\">";
          for (const Node& item : items) {
            // Past the limit the row is dropped whole; stop filling it.
            if (out.size() > limit) return;
            out += "<li>";
            scalar(item, out);
            out += "</li>";
          }
          out += "</ul>";
        }));
        return;
      }
      if (key) spend(appendRow(keyText, depth, rows, limit, [](std::string&) {}));
      const int childDepth = key ? depth + 1 : depth;
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (budget < 1) break;
        emit(items[i], std::to_string(i + 1), childDepth, rows, budget, limit);
      }
      return;
    }
  }
}

std::string render(std::shared_ptr<const std::string> shared) {
  const std::string_view text = *shared;
  auto sequence =
      yaml::compose_all(std::move(shared), yaml::Resolver::defaultResolver(),
                        yaml::Constructor::defaultConstructor(), yaml::Parser::defaultEncoding());
  if (!sequence) {
    std::string note = "<p class=\"quarn-note\">Could not parse: ";
    HTML::escape(sequence.error().description(), note);
    note += "</p>";
    return note;
  }
  std::vector<Node> documents;
  for (;;) {
    auto next = sequence->next();
    // A failed document is dropped without a note; earlier ones still show.
    if (!next || !*next) break;
    documents.push_back(std::move(**next));
  }
  if (documents.empty()) {
    return isBlank(text) ? "<p class=\"quarn-empty\">Empty document</p>"
                         : "<p class=\"quarn-note\">Could not parse this file</p>";
  }
  // Characters, as the ISO 8859-1 reading of a file doubles its bytes above 0x7F.
  const std::size_t characters = utf8::characterCount(text);
  const std::size_t limit = kBytesPerCharacter * characters + kFixedBytes;
  std::string out;
  int budget = kMaxRows;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    // Documents without rows (past the budget, or empty mappings) still add a
    // heading and a table each, and their number has no bound of its own.
    if (out.size() > limit) {
      budget = 0;
      break;
    }
    if (i > 0) out += "\n";
    if (documents.size() >= 2) {
      out += "<h2 class=\"quarn-doc-heading\">Document ";
      out += std::to_string(i + 1);
      out += "</h2>\n";
    }
    out += "<table class=\"quarn-props\"><tbody>";
    emit(documents[i], std::nullopt, 0, out, budget, limit);
    out += "</tbody></table>";
  }
  if (budget <= 0) {
    out += "\n<p class=\"quarn-note\">Truncated \xE2\x80\x94 showing the first ";
    out += std::to_string(kMaxRows);
    out += " rows</p>";
  }
  return out;
}

}  // namespace

std::string html(std::string_view text) {
  return render(std::make_shared<const std::string>(text));
}

std::string html(std::string&& text) {
  return render(std::make_shared<const std::string>(std::move(text)));
}

}  // namespace quarn::StructuredRenderer
