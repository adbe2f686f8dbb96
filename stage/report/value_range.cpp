#include "stage/report/value_range.h"

#include <cmath>
#include <cstdio>

namespace report {

namespace {

// A length-like triple whose magnitude stays within the exact range (angles are not checked:
// they only enter through their sine and cosine).
bool within(const stage::Vec3& v) {
  for (double x : v)
    if (!(std::fabs(x) <= max_exact_value)) return false;
  return true;
}

bool within(const stage::Channel& c) {
  if (!within(c.value)) return false;
  for (const stage::Key& k : c.keys)
    if (!within(k.value)) return false;
  return true;
}

std::string beyond(const stage::Item& item, const char* what) {
  char limit[32];
  std::snprintf(limit, sizeof limit, "%g", max_exact_value);
  return "item \"" + item.name + "\": its " + what + " is beyond " + limit +
         " in magnitude, where the solver no longer works exactly (rotations may be left as "
         "they were)";
}

}  // namespace

std::string beyond_exact_range(const stage::Scene& scene) {
  const struct {
    int channel;
    const char* name;
  } channels[] = {
      {stage::ch_position, "position"}, {stage::ch_scaling, "scaling"}, {stage::ch_pivot, "pivot"}};
  for (std::size_t i = 0; i < scene.size(); ++i) {
    const stage::Item& item = scene.item(i);
    for (const auto& c : channels)
      if (!within(item.channels[c.channel])) return beyond(item, c.name);
    if (!within(item.rest_position)) return beyond(item, "rest position");
    if (!within(stage::Vec3{item.rest_length, 0, 0})) return beyond(item, "rest length");
  }
  return "";
}

}  // namespace report
