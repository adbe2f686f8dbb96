// Holds back what the process writes to its standard error while frames are evaluated, so that
// the module's two linear-algebra lines ("abs = 0", "determinant = 0") become counts in the report
// instead of a stream of raw lines. Anything else written meanwhile is passed on unchanged.
#ifndef TARSEL_STAGE_REPORT_STDERR_CAPTURE_H
#define TARSEL_STAGE_REPORT_STDERR_CAPTURE_H

#include <cstdio>
#include <string>

namespace report {

// The module's diagnostic lines in a piece of captured text.
struct Diagnostic_counts {
  int abs_zero = 0;          // "abs = 0": a direction of zero length was normalised
  int determinant_zero = 0;  // "determinant = 0": a singular matrix was inverted
  int total() const { return abs_zero + determinant_zero; }
};

// Counts the diagnostic lines of `text` and returns every other line (with its newline).
std::string count_diagnostics(const std::string& text, Diagnostic_counts* counts);

// Redirects file descriptor 2 into a temporary file between begin() and end(). A disabled capture
// (or one whose temporary file cannot be made) does nothing and captures nothing.
class Stderr_capture {
 public:
  explicit Stderr_capture(bool enabled);
  ~Stderr_capture();  // ends a capture still running
  Stderr_capture(const Stderr_capture&) = delete;
  Stderr_capture& operator=(const Stderr_capture&) = delete;

  void begin();
  // Bytes written since begin(), while capturing; 0 otherwise.
  long long size() const;
  // Restores standard error and returns what was written since begin().
  std::string end();

 private:
  long long size_now() const;

  std::FILE* file_ = nullptr;
  int saved_fd_ = -1;
  bool capturing_ = false;
  bool dirty_ = false;  // the file holds text of an earlier capture
};

}  // namespace report

#endif
