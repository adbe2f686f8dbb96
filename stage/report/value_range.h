// The range of scene values the solver handles exactly: beyond it squares of distances can
// overflow, and the module then leaves rotations as the host had them (docs/known-behaviour.md).
#ifndef TARSEL_STAGE_REPORT_VALUE_RANGE_H
#define TARSEL_STAGE_REPORT_VALUE_RANGE_H

#include <string>

#include "stage/scene.h"

namespace report {

// Largest magnitude of a position, pivot, rest position, rest length or scale factor that the
// solver handles exactly.
constexpr double max_exact_value = 1e50;

// The first value of the scene beyond max_exact_value, described for a warning ("item \"arm\":
// position 1e+300 is beyond ..."); empty when every value is within it.
std::string beyond_exact_range(const stage::Scene& scene);

}  // namespace report

#endif
