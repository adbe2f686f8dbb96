// tarsel-stage import FILE -o SCENE.json: a skeleton and its motion read from a motion file.
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/formats/import.h"
#include "stage/formats/rig.h"
#include "stage/formats/units.h"
#include "stage/output_file.h"
#include "stage/report/frames.h"
#include "stage/runner/commands.h"
#include "stage/runner/rig_options.h"
#include "stage/scene_file.h"

namespace runner {

namespace {

struct Import_options {
  std::string file;
  std::string output;
  double fps = 0;
  double scale = 1;
  std::string units;
  std::string frames;
  std::string animation;
  bool list = false;
  Rig_options rig;
};

int run_import(const Import_options& o) {
  if (!std::isfinite(o.fps))
    throw stage::Error("--fps " + std::to_string(o.fps) + ": expected a number of frames a second");
  formats::Import_options options;
  options.fps = o.fps;
  options.scale = o.scale;
  if (!o.units.empty()) {
    const double metres = formats::unit_metres(o.units);
    if (metres == 0) throw stage::Error("--units " + o.units + ": expected m, cm, mm, in or cmu");
    options.scale *= metres;
  }
  if (!o.frames.empty()) {
    const report::Frame_range range = report::parse_frame_range(o.frames);
    options.has_frames = true;
    options.first = range.first;
    options.last = range.last;
  }
  options.animation = o.animation;
  if (o.list) {
    std::fputs(formats::list_motion_file(o.file, options).c_str(), stdout);
    return 0;
  }
  if (o.output.empty()) throw stage::Error("import: give -o SCENE.json (or --list)");
  const formats::Rig_request rig = parse_rig_options(o.rig);
  stage::Output_file output(o.output);  // an unwritable place is reported before the work
  std::vector<std::string> warnings;
  stage::Scene_record scene = formats::import_motion(o.file, options, &warnings);
  for (const std::string& w : warnings)
    std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
  if (!rig.empty())
    for (const std::string& w : formats::rig_scene(scene, rig, o.file))
      std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
  stage::write_scene(scene, output);
  output.commit();
  return 0;
}

}  // namespace

Command add_import_command(CLI::App& app) {
  auto o = std::make_shared<Import_options>();
  CLI::App* cmd = app.add_subcommand(
      "import",
      "Read a skeleton and its animation (BVH, glTF 2, FBX, Collada, ... through assimp)\n"
      "and write it as a scene: one bone per joint, keyed on every frame. The options of\n"
      "`rig` may be given too, to put IK chains on the imported limbs at once.");
  cmd->add_option("file", o->file, "Motion file to read")->required()->type_name("FILE");
  cmd->add_option("-o,--output", o->output, "Scene file to write (JSON)")->type_name("SCENE");
  cmd->add_flag("--list", o->list,
                "Print the skeleton (its joints as a tree) and the file's animations, and write\n"
                "nothing");
  cmd->add_option("--animation", o->animation,
                  "The animation to import, by name or index from 0 (default: the first)")
      ->type_name("NAME|INDEX");
  cmd->add_option("--fps", o->fps, "Frames per second of the scene (default: the file's rate)")
      ->check(CLI::PositiveNumber)
      ->type_name("N");
  cmd->add_option("--scale", o->scale, "Multiply every length, e.g. 0.01 for centimetres")
      ->check(CLI::PositiveNumber)
      ->type_name("S");
  cmd->add_option("--units", o->units,
                  "The file's length unit, converted to metres: m, cm, mm, in or cmu (the CMU\n"
                  "clips' 0.0254/0.45 m); default: lengths kept as they are")
      ->type_name("UNIT");
  cmd->add_option("-f,--frames", o->frames, "Keep only these frames of the clip: FIRST-LAST")
      ->type_name("RANGE");
  add_rig_options(cmd, o->rig);
  return {cmd, [o] { return run_import(*o); }};
}

}  // namespace runner
