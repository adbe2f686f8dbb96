// tarsel-stage rig SCENE -o RIGGED.json --chain ROOT:END ...: IK chains on a scene's limbs.
#include <cstdio>
#include <memory>

#include "stage/error.h"
#include "stage/formats/rig.h"
#include "stage/output_file.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/open_scene.h"
#include "stage/runner/rig_options.h"
#include "stage/scene_file.h"

namespace runner {

namespace {

struct Options {
  std::string scene;
  std::string output;
  Rig_options rig;
  std::string module;
  bool strict = false;
};

int run_rig(const Options& o) {
  const formats::Rig_request request = parse_rig_options(o.rig);
  if (request.empty()) throw stage::Error("rig: give at least one --chain, --pin or --offset");
  stage::Output_file output(o.output);
  stage::Scene_record scene = stage::read_scene_file(o.scene);
  const std::vector<std::string> warnings = formats::rig_scene(scene, request, o.scene);
  for (const std::string& w : warnings)
    std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
  check_strict(warnings, o.strict);
  check_scene_record(scene, o.output, o.module, o.strict);
  stage::write_scene(scene, output);
  output.commit();
  return 0;
}

}  // namespace

Command add_rig_command(CLI::App& app) {
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "rig",
      "Put IK chains on a scene's limbs (Tarsel_Top on ROOT, Tarsel down to END's parent, a\n"
      "goal keyed where the clip has END), and pin or move goals.");
  add_scene_option(cmd, o->scene);
  cmd->add_option("-o,--output", o->output, "Scene file to write")->required()->type_name("RIGGED");
  add_rig_options(cmd, o->rig);
  add_module_option(cmd, o->module);
  add_strict_option(cmd, o->strict);
  return {cmd, [o] { return run_rig(*o); }};
}

}  // namespace runner
