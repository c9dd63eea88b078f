// Command-line parsing as the hosts share it, over CLI11: --help and
// --version print and succeed, and a bad command line exits 64 (EX_USAGE)
// with a message naming what was wrong. Header-only, so that only the
// programs, which link CLI11, pull it in.
#ifndef QUARN_BASE_COMMANDLINE_H_
#define QUARN_BASE_COMMANDLINE_H_

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

namespace quarn::CommandLine {

inline constexpr int kUsage = 64;  // EX_USAGE

// Parses `argv` into `app`. Nothing when the program goes on; else its exit
// status: 0 after --help or --version (printed on standard output), kUsage
// after a bad command line, with "PROGRAM: MESSAGE" and a pointer to --help
// on `errors`. An argument the program does not know is named first, ahead
// of a missing one, since it is usually why the other is missing.
inline std::optional<int> parse(CLI::App& app, int argc, char** argv, std::string_view program,
                                std::ostream& errors) {
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
