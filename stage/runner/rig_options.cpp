#include "stage/runner/rig_options.h"

#include <cmath>
#include <cstdlib>

#include "stage/error.h"
#include "stage/report/frames.h"

namespace runner {

namespace {

// "NAME:REST" split at the last colon (joint names may hold colons, the values do not).
void split_named(const std::string& text, const std::string& option, std::string& name,
                 std::string& rest) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    throw stage::Error(option + " \"" + text + "\": expected " +
                       (option == "--chain" ? "ROOT:END"
                        : option == "--pin" ? "END:A-B[:EASE]"
                                            : "END:x,y,z"));
  name = text.substr(0, colon);
  rest = text.substr(colon + 1);
}

}  // namespace

void add_rig_options(CLI::App* cmd, Rig_options& o) {
  cmd->add_option("--chain", o.chains,
                  "IK chain from joint ROOT to joint END (END is brought to its goal; the bones\n"
                  "from ROOT to END's parent turn). Repeatable, e.g. --chain LeftUpLeg:LeftFoot")
      ->type_name("ROOT:END")
      ->allow_extra_args(false);
  cmd->add_option("--pole", o.pole,
                  "Twist target of the chains: auto (a keyed pole in front of the middle joint,\n"
                  "default), NONE, or the name of an item")
      ->type_name("auto|NONE|ITEM");
  cmd->add_option("--end-orientation", o.end_orientation,
                  "World orientation of each chain's END joint (foot, hand): clip (as the clip\n"
                  "has it, default), free (turned with the chain), or the name of an item")
      ->type_name("clip|free|ITEM");
  cmd->add_option("--bend", o.bend,
                  "Rest bend of every bending joint, degrees (default: the bend of the frame\n"
                  "where the chain is most bent)")
      ->type_name("DEG")
      ->each([&o](const std::string&) { o.has_bend = true; });
  cmd->add_option(
         "--pin", o.pins,
         "Hold END's goal at its frame-A place through frame B, eased in and out over\n"
         "EASE frames (default 5; 0: a hard hold), e.g. LeftFoot:10-40 or LeftFoot:10-40:8")
      ->type_name("END:A-B[:EASE]")
      ->allow_extra_args(false);
  cmd->add_option("--offset", o.offsets, "Move END's goal by x,y,z on every frame")
      ->type_name("END:x,y,z")
      ->allow_extra_args(false);
}

formats::Rig_request parse_rig_options(const Rig_options& o) {
  formats::Rig_request request;
  if (o.has_bend && !std::isfinite(o.bend))
    throw stage::Error("--bend " + std::to_string(o.bend) + ": the bend must be a finite angle");
  for (const std::string& c : o.chains) {
    formats::Chain_request chain;
    split_named(c, "--chain", chain.root, chain.end);
    chain.pole = o.pole;
    chain.end_orientation = o.end_orientation;
    chain.has_bend = o.has_bend;
    chain.bend_deg = o.bend;
    request.chains.push_back(chain);
  }
  for (const std::string& p : o.pins) {
    formats::Goal_edit e;
    std::string range;
    split_named(p, "--pin", e.end, range);
    if (range.find('-') == std::string::npos) {  // END:A-B:EASE
      const std::string ease = range;
      const std::string named = e.end;  // (split_named writes the name it reads)
      split_named(named, "--pin", e.end, range);
      char* stop = nullptr;
      const long frames = std::strtol(ease.c_str(), &stop, 10);
      if (*stop != '\0' || frames < 0 || frames > 100000)
        throw stage::Error("--pin \"" + p + "\": EASE is a whole number of frames, 0 or more");
      e.ease = static_cast<int>(frames);
    }
    const report::Frame_range r = report::parse_frame_range(range);
    e.pin = true;
    e.first = r.first;
    e.last = r.last;
    request.edits.push_back(e);
  }
  for (const std::string& p : o.offsets) {
    formats::Goal_edit e;
    std::string values;
    split_named(p, "--offset", e.end, values);
    const char* s = values.c_str();
    for (int i = 0; i < 3; ++i) {
      char* end = nullptr;
      e.offset[i] = std::strtod(s, &end);
      const char want = i < 2 ? ',' : '\0';
      if (end == s || *end != want)
        throw stage::Error("--offset \"" + p + "\": expected END:x,y,z (three numbers)");
      if (!std::isfinite(e.offset[i]))
        throw stage::Error("--offset \"" + p + "\": the offset must be finite numbers");
      s = end + (i < 2 ? 1 : 0);
    }
    request.edits.push_back(e);
  }
  return request;
}

}  // namespace runner
