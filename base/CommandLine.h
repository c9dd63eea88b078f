// Command-line parsing as the hosts share it, over CLI11: --help and
// --version print and succeed, and a bad command line exits kUsage with a
// message naming what was wrong. Header-only, so that only the programs,
// which link CLI11, pull it in.
#ifndef QUARN_BASE_COMMANDLINE_H_
#define QUARN_BASE_COMMANDLINE_H_

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/ExitStatus.h"

namespace quarn::CommandLine {

// For options whose value names a file or folder: an empty value is a
// mistake, not "none". No description, so the help shows nothing of it.
inline CLI::Validator nonEmpty() {
  return CLI::Validator(
      [](const std::string& value) { return value.empty() ? "must not be empty" : ""; }, "");
}

// For an option that takes one of a few words: exactly those, and a message
// that lists them ("must be system, light or dark, not \"blue\"").
inline CLI::Validator oneOf(std::vector<std::string> words) {
  return CLI::Validator(
      [words](const std::string& value) -> std::string {
        for (const std::string& word : words) {
          if (value == word) return "";
        }
        std::string list;
        for (std::size_t i = 0; i < words.size(); ++i) {
          list += i == 0 ? "" : i + 1 == words.size() ? " or " : ", ";
          list += words[i];
        }
        return "must be " + list + ", not \"" + value + "\"";
      },
      "");
}

// Help as the hosts print it: an argument that may also be given by option
// ("INPUT,-i,--input") is listed once, among the positionals, its option
// names in its description.
class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* option, bool isPositional) const override {
    if (!isPositional && option->get_positional()) return "";
    return CLI::Formatter::make_option(option, isPositional);
  }
  std::string make_option_desc(const CLI::Option* option) const override {
    std::string description = CLI::Formatter::make_option_desc(option);
    if (option->get_positional() && option->nonpositional()) {
      description += " (also " + option->get_name(false, true) + ")";
    }
    return description;
  }
};

// Parses `argv` into `app`. Nothing when the program goes on; else its exit
// status: kDone after --help or --version (printed on standard output),
// kUsage after a bad command line, with "PROGRAM: MESSAGE" and a pointer to
// --help on `errors`. An argument the program does not know is named first,
// ahead of a missing one, since it is usually why the other is missing. The
// usage line names `program`, not the path it was started by.
inline std::optional<int> parse(CLI::App& app, int argc, char** argv, std::string_view program,
                                std::ostream& errors) {
  app.name(std::string(program));
  app.formatter(std::make_shared<HelpFormatter>());
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);
    std::string message = error.what();
    const std::vector<std::string> unknown = app.remaining();
    if (!unknown.empty()) {
      const std::string& first = unknown.front();
      message =
          (first.size() > 1 && first.front() == '-' ? "unknown option " : "unexpected argument ") +
          first;
    }
    errors << program << ": " << message << "\n"
           << "Run '" << program << " --help' for more information.\n";
    return kUsage;
  }
}

}  // namespace quarn::CommandLine

#endif  // QUARN_BASE_COMMANDLINE_H_
