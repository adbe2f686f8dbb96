#include "stage/runner/progress.h"

#include <unistd.h>

namespace runner {

Progress::Progress(long long total, bool force, std::FILE* stream)
    : stream_(stream), total_(total), start_(Clock::now()), last_(start_) {
  terminal_ = isatty(fileno(stream)) != 0;
  enabled_ = terminal_ || force;
}

void Progress::update(long long done, int frame) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  const bool long_run = total_ > 100 || now - start_ > std::chrono::seconds(1);
  const auto interval =
      terminal_ ? std::chrono::milliseconds(100) : std::chrono::milliseconds(1000);
  if (!long_run || (shown_ && now - last_ < interval && done < total_)) return;
  last_ = now;
  shown_ = true;
  const int percent = static_cast<int>(100 * done / (total_ > 0 ? total_ : 1));
  if (terminal_) {
    std::fprintf(stream_, "\rtarsel-stage: frame %d (%lld of %lld, %d%%)\033[K", frame, done,
                 total_, percent);
  } else {
    std::fprintf(stream_, "tarsel-stage: frame %d (%lld of %lld, %d%%)\n", frame, done, total_,
                 percent);
  }
  std::fflush(stream_);
}

void Progress::finish() {
  if (shown_ && terminal_) {
    std::fputs("\r\033[K", stream_);
    std::fflush(stream_);
  }
  shown_ = false;
}

}  // namespace runner
