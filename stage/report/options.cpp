#include "stage/report/options.h"

namespace report {

const char* accepted_range(const std::string& label) {
  if (label == "Posture Weight") return "0 and up; a negative value is raised to 0";
  if (label == "Soft Reach") return "0 to 0.5 of the chain's length, 0 off; kept within the range";
  if (label == "Max Stretch") return "1 to 10, 1 off; kept within the range";
  return "any number";
}

}  // namespace report
