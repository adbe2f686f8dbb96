#include "stage/report/frames.h"

#include <cctype>
#include <climits>
#include <cstddef>

#include "stage/error.h"

namespace report {

namespace {

[[noreturn]] void bad_range(const std::string& text, const std::string& why) {
  throw stage::Error("bad frame range \"" + text + "\": " + why +
                     " (expected FRAME or FIRST-LAST, e.g. 0-48)");
}

// Reads an optionally signed decimal integer at pos; advances pos past it.
int read_frame(const std::string& text, std::size_t& pos) {
  const std::size_t start = pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) {
    negative = text[pos] == '-';
    ++pos;
  }
  const std::size_t digits = pos;
  long long value = 0;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    value = value * 10 + (text[pos] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) bad_range(text, "frame number too large");
    ++pos;
  }
  if (pos == digits) {
    bad_range(text, start == text.size() ? "a frame number is missing"
                                         : "\"" + text.substr(start) + "\" is not a frame number");
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) bad_range(text, "frame number too large");
  return static_cast<int>(value);
}

}  // namespace

Frame_range parse_frame_range(const std::string& text) {
  if (text.empty()) bad_range(text, "it is empty");
  std::size_t pos = 0;
  Frame_range range;
  range.first = read_frame(text, pos);
  range.last = range.first;
  if (pos < text.size()) {
    if (text[pos] != '-') bad_range(text, "unexpected \"" + text.substr(pos) + "\"");
    ++pos;
    range.last = read_frame(text, pos);
    if (pos < text.size()) bad_range(text, "unexpected \"" + text.substr(pos) + "\"");
  }
  if (range.last < range.first) bad_range(text, "the last frame comes before the first");
  return range;
}

void check_run_length(const Frame_range& range, const std::string& what) {
  if (range.count() <= max_run_frames) return;
  throw stage::Error(what + " holds " + std::to_string(range.count()) +
                     " frames; a run evaluates at most " + std::to_string(max_run_frames) +
                     " (split it into several runs with --frames)");
}

}  // namespace report
