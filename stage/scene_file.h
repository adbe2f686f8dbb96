// Scene files: JSON text describing items, their channels, rest pose, limits and motion handlers
// with the handlers' own instance data (docs/scene-format.md). Angles are degrees in files and
// radians in the records here; times are seconds.
#ifndef TARSEL_STAGE_SCENE_FILE_H
#define TARSEL_STAGE_SCENE_FILE_H

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "stage/channel.h"
#include "stage/scene.h"

namespace stage {

struct Handler_record {
  std::string server;
  bool has_data = false;
  std::vector<std::string> data;  // the instance's blocks in the host's text mode, one a line
};

// One item as a file holds it. Item references are the file's identifiers.
struct Item_record {
  uint32_t id = 0;
  Item_type type = Item_type::object;
  std::string name;
  uint32_t owner = 0;   // bones
  uint32_t parent = 0;  // 0: none (a bone's parent is then its owner)
  uint32_t goal = 0;
  bool match_goal_orientation = false;     // turn to the goal's world orientation (scene.h)
  std::array<Channel, ch_count> channels;  // scaling defaults to (1, 1, 1)
  Vec3 rest_position{};
  Vec3 rest_rotation{};
  double rest_length = 0;
  Limits limits;
  std::vector<Handler_record> handlers;

  Item_record() { channels[ch_scaling].value = {1, 1, 1}; }
};

// A record with the given id, type and name, everything else at its default.
inline Item_record item_record(uint32_t id, Item_type type, std::string name) {
  Item_record r;
  r.id = id;
  r.type = type;
  r.name = std::move(name);
  return r;
}

// The most frames a scene (or a clip read from a motion file) may span. Every command that walks
// the frames (run, bake, export, rig) can then count them in an int and finish in bounded time;
// a longer range is refused where the file is read.
constexpr long long max_scene_frames = 10000000;

struct Scene_record {
  std::string description;
  double fps = 30;
  int frame_start = 0;
  int frame_end = 0;
  std::vector<Item_record> items;
  std::vector<Mesh_binding> meshes;
};

// Reads a scene from JSON text. Throws Error "<file>: <JSON path>: <what is wrong>" for a file
// that is not valid JSON or does not describe a sound scene: unknown fields or item types, wrong
// value types, non-finite numbers, duplicate identifiers, references to no item, cycles, a frame
// range of more than max_scene_frames frames.
Scene_record parse_scene(const std::string& text, const std::string& file_name);
// The JSON text of a scene; parse_scene reads it back to the same record (angles to within their
// 12 significant digits when these read back as the same angle, else in full).
std::string format_scene(const Scene_record& scene);
// The same text in pieces (one item a piece), for a large scene written as it is formatted.
void write_scene(const Scene_record& scene, const std::function<void(const std::string&)>& out);
// The same into an output file (not committed). Throws Error "<output>: <fault>" for a value no
// file can hold (nan or inf) or a failed write. Formatting throws Error for such a value too.
class Output_file;
void write_scene(const Scene_record& scene, Output_file& output);

Scene_record read_scene_file(const std::string& path);  // throws Error naming the file
// Writes through a temporary file in the same folder, renamed over the target once complete, so
// a failed save leaves any old file intact. Throws Error naming the file.
void write_scene_file(const std::string& path, const Scene_record& scene);

// A scene file's text `original` with the values that differ between `before` and `after` (the
// format_scene texts of its scene before and after an edit) replaced by their text in `after`;
// every other byte is kept, so a value is rewritten only when it changed. `original` itself when
// nothing changed; `after` when one of the texts is not JSON. The result holds every change.
std::string patch_scene_text(const std::string& original, const std::string& before,
                             const std::string& after);

// Splits text into lines at '\n' (a final newline ends the last line) and joins them back.
std::vector<std::string> split_lines(const std::string& text);
std::string join_lines(const std::vector<std::string>& lines);

}  // namespace stage

#endif
