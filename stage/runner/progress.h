// Progress of a long run on stderr: shown when stderr is a terminal (or when asked for) and the
// run has more than 100 frames or has taken over a second. On a terminal one line is rewritten in
// place and cleared at the end; otherwise a line is written about every second.
#ifndef TARSEL_STAGE_RUNNER_PROGRESS_H
#define TARSEL_STAGE_RUNNER_PROGRESS_H

#include <chrono>
#include <cstdio>

namespace runner {

class Progress {
 public:
  // force: report even when stderr is not a terminal.
  Progress(long long total, bool force, std::FILE* stream = stderr);
  ~Progress() { finish(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(long long done, int frame);  // after each evaluated frame
  void finish();                           // clears the terminal line, if one was written

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* stream_;
  long long total_;
  bool enabled_;
  bool terminal_;
  bool shown_ = false;
  Clock::time_point start_;
  Clock::time_point last_;
};

}  // namespace runner

#endif
