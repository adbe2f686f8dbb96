// Length units of motion files, for --units on import and export.
#ifndef TARSEL_STAGE_FORMATS_UNITS_H
#define TARSEL_STAGE_FORMATS_UNITS_H

#include <string>

namespace formats {

// Metres in one unit: m, cm, mm, in, and cmu, the unit of the CMU motion-capture clips (their
// lengths are inches divided by 0.45, so one unit is 0.0254 / 0.45 m). 0 for an unknown name.
inline double unit_metres(const std::string& unit) {
  if (unit == "m") return 1;
  if (unit == "cm") return 0.01;
  if (unit == "mm") return 0.001;
  if (unit == "in") return 0.0254;
  if (unit == "cmu") return 0.0254 / 0.45;
  return 0;
}

}  // namespace formats

#endif
