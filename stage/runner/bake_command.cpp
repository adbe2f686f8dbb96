// tarsel-stage bake SCENE -o BAKED.json: the solved motion written as keys, the IK handlers gone.
#include <memory>

#include "stage/error.h"
#include "stage/formats/bake.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/report/diagnostics_summary.h"
#include "stage/report/frames.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/open_scene.h"
#include "stage/scene_file.h"

namespace runner {

namespace {

struct Options {
  std::string scene;
  std::string output;
  std::string frames;
  std::string module;
  bool strict = false;
  bool raw_diagnostics = false;
};

int run_bake(const Options& o) {
  if (!o.frames.empty()) report::parse_frame_range(o.frames);  // a bad range fails first
  stage::Output_file output(o.output);
  stage::Host host;
  open_scene(host, o.module, o.scene, o.strict);
  const stage::Scene& scene = host.scene();
  const report::Frame_range range = frames_within_scene(scene, o.frames, o.scene);
  for (const std::string& w : host.warnings())
    throw stage::Error(w + " (baking needs every handler working)");
  stage::Scene_record baked;
  report::fold_diagnostics(o.scene, o.raw_diagnostics,
                           [&] { baked = formats::bake_scene(host, range.first, range.last); });
  // Item by item into the output: the text of the whole scene is never held at once.
  stage::write_scene(baked, output);
  output.commit();
  return 0;
}

}  // namespace

Command add_bake_command(CLI::App& app) {
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "bake",
      "Evaluate the scene with the module and write every handler-driven item's rotation\n"
      "(and position and scaling where a handler set them) as a key on every frame, with\n"
      "the IK handlers removed: the result plays the same without the module.");
  add_scene_option(cmd, o->scene);
  cmd->add_option("-o,--output", o->output, "Baked scene file to write")
      ->required()
      ->type_name("BAKED");
  cmd->add_option("-f,--frames", o->frames, "Frames to bake: FIRST-LAST (default: the scene's)")
      ->type_name("RANGE");
  add_module_option(cmd, o->module);
  add_strict_option(cmd, o->strict);
  add_raw_diagnostics_option(cmd, o->raw_diagnostics);
  return {cmd, [o] { return run_bake(*o); }};
}

}  // namespace runner
