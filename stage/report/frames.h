// Frame ranges as a user types them on the command line: "12" or "0-48" (negative frames allowed:
// "-10--2", "-5-5").
#ifndef TARSEL_STAGE_REPORT_FRAMES_H
#define TARSEL_STAGE_REPORT_FRAMES_H

#include <string>

#include "stage/scene_file.h"

namespace report {

struct Frame_range {
  int first = 0;
  int last = 0;  // inclusive; never before first
  long long count() const { return static_cast<long long>(last) - first + 1; }
};

// Parses a range. Throws stage::Error with a message naming the text for anything else: empty
// text, stray characters, numbers beyond int, or a last frame before the first.
Frame_range parse_frame_range(const std::string& text);

// The most frames one run evaluates; a longer range is refused before the run starts, so that a
// mistyped range cannot keep the machine busy for days.
constexpr long long max_run_frames = stage::max_scene_frames;

// Throws stage::Error "<what>: N frames; a run evaluates at most 10000000 ..." for a longer range.
void check_run_length(const Frame_range& range, const std::string& what);

}  // namespace report

#endif
