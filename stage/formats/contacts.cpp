#include "stage/formats/contacts.h"

#include <algorithm>
#include <cmath>

#include "stage/error.h"
#include "stage/formats/frame_math.h"
#include "stage/formats/record_world.h"

namespace formats {

std::vector<Contact_phase> find_contacts(const stage::Scene_record& scene,
                                         const Contact_options& options, const std::string& file) {
  std::size_t joint = Record_world::npos;
  for (std::size_t i = 0; i < scene.items.size(); ++i)
    if (scene.items[i].type == stage::Item_type::bone && scene.items[i].name == options.joint)
      joint = i;
  if (joint == Record_world::npos)
    throw stage::Error(file + ": --joint " + options.joint + ": no joint named \"" + options.joint +
                       "\"");
  Record_world world(scene);
  std::vector<Vec3> at;
  Vec3 lo{1e300, 1e300, 1e300}, hi{-1e300, -1e300, -1e300};
  for (long long f = scene.frame_start; f <= scene.frame_end; ++f) {
    const std::vector<Mat4>& w = world.at(f / scene.fps);
    at.push_back(stage::translation(w[joint]));
    if (f != scene.frame_start) continue;
    for (std::size_t i = 0; i < scene.items.size(); ++i) {
      if (scene.items[i].type != stage::Item_type::bone) continue;
      const Vec3 p = stage::translation(w[i]);
      for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    }
  }
  const double size = norm(sub(hi, lo));
  const double speed = options.speed >= 0 ? options.speed : 0.05 * size;
  const double height = options.height >= 0 ? options.height : 0.03 * size;
  double floor = 1e300;
  for (const Vec3& p : at) floor = std::min(floor, p[1]);

  // A frame is planted when low and still: its speed over a twentieth of a second either side,
  // which evens out the jitter of captured motion.
  const std::size_t n = at.size();
  const std::size_t window = std::max<std::size_t>(1, std::lround(scene.fps / 20));
  std::vector<char> planted(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t a = i > window ? i - window : 0, b = std::min(n - 1, i + window);
    const double v = b > a ? norm(sub(at[b], at[a])) * scene.fps / double(b - a) : 0;
    planted[i] = at[i][1] <= floor + height && v <= speed;
  }
  // Gaps no longer than the window inside a contact are jitter too.
  for (std::size_t i = 0; i < n; ++i) {
    if (planted[i] || i == 0 || !planted[i - 1]) continue;
    std::size_t j = i;
    while (j < n && !planted[j]) ++j;
    if (j < n && j - i <= window) std::fill(planted.begin() + i, planted.begin() + j, 1);
    i = j;
  }
  std::vector<Contact_phase> phases;
  for (std::size_t i = 0; i < n;) {
    if (!planted[i]) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j + 1 < n && planted[j + 1]) ++j;
    if (static_cast<int>(j - i + 1) >= options.shortest) {
      // A landing is often broken by the foot rolling from heel to toe: a phase that starts
      // within a quarter of a second of the last one, where the last one left the joint (within
      // the height allowed), is the same footprint.
      const std::size_t gap = std::max<std::size_t>(1, std::lround(scene.fps / 4));
      const int first = scene.frame_start + static_cast<int>(i);
      if (!phases.empty()) {
        const std::size_t last = static_cast<std::size_t>(phases.back().last - scene.frame_start);
        if (i - last <= gap && norm(sub(at[i], at[last])) <= height) {
          phases.back().last = scene.frame_start + static_cast<int>(j);
          i = j + 1;
          continue;
        }
      }
      phases.push_back({first, scene.frame_start + static_cast<int>(j)});
    }
    i = j + 1;
  }
  return phases;
}

}  // namespace formats
