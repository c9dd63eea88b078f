// The exit statuses of the three programs: one meaning each, the same
// everywhere, as the README's table and the manual pages list them.
#ifndef QUARN_BASE_EXITSTATUS_H_
#define QUARN_BASE_EXITSTATUS_H_

namespace quarn {

enum ExitStatus : int {
  kDone = 0,     // the output was written, or the window was closed
  kFailed = 1,   // the file could not be read or drawn, or an output not written
  kRefused = 2,  // not a file type the program shows, by its extension
  kUsage = 64,   // a bad command line (EX_USAGE)
};

}  // namespace quarn

#endif  // QUARN_BASE_EXITSTATUS_H_
