// What each numeric option of a chain root accepts, as the module treats it, in the words every
// command shows beside the option (the panel command, the viewer page's options panel).
#ifndef TARSEL_STAGE_REPORT_OPTIONS_H
#define TARSEL_STAGE_REPORT_OPTIONS_H

#include <string>

namespace report {

// Text for a control's label, "any number" for an option the module takes as it is.
const char* accepted_range(const std::string& label);

}  // namespace report

#endif
