// tarsel-stage export SCENE -o OUT.glb|OUT.gltf|OUT.bvh: the evaluated animation as a skeleton.
#include <memory>

#include "stage/error.h"
#include "stage/formats/export.h"
#include "stage/formats/units.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/report/diagnostics_summary.h"
#include "stage/report/frames.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/open_scene.h"

namespace runner {

namespace {

struct Options {
  std::string scene;
  std::string output;
  std::string frames;
  std::string module;
  double scale = 1;
  std::string units = "m";
  bool strict = false;
  bool raw_diagnostics = false;
};

int run_export(const Options& o) {
  enum { glb, gltf, bvh } kind;
  if (ends_with(o.output, ".glb")) {
    kind = glb;
  } else if (ends_with(o.output, ".gltf")) {
    kind = gltf;
  } else if (ends_with(o.output, ".bvh")) {
    kind = bvh;
  } else {
    throw stage::Error(o.output + ": unknown kind of file (write .glb, .gltf or .bvh)");
  }
  const double metres = formats::unit_metres(o.units);
  if (metres == 0) throw stage::Error("--units " + o.units + ": expected m, cm, mm, in or cmu");
  const double scale = o.scale / metres;
  if (!o.frames.empty()) report::parse_frame_range(o.frames);  // a bad range fails first
  stage::Output_file output(o.output);
  stage::Host host;
  open_scene(host, o.module, o.scene, o.strict);
  const stage::Scene& scene = host.scene();
  const report::Frame_range range = frames_within_scene(scene, o.frames, o.scene);
  try {
    // Piece by piece into the output (a temporary file until committed): the file is never held.
    const formats::Export_sink sink = [&output](const std::string& piece) { output.write(piece); };
    report::fold_diagnostics(o.scene, o.raw_diagnostics, [&] {
      if (kind == bvh)
        formats::export_bvh(host, range.first, range.last, scale, sink);
      else
        formats::export_gltf(host, range.first, range.last, kind == glb, scale, sink);
    });
    output.commit();
  } catch (const stage::Error& e) {
    const std::string what = e.what();
    if (what.rfind(o.output, 0) == 0) throw;
    throw stage::Error(o.scene + ": " + what);
  }
  return 0;
}

}  // namespace

Command add_export_command(CLI::App& app) {
  auto o = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "export",
      "Evaluate the scene with the module and write its skeletons with a key on every frame:\n"
      "glTF 2 (.glb binary, .gltf text) or BVH (.bvh).");
  add_scene_option(cmd, o->scene);
  cmd->add_option("-o,--output", o->output, "File to write: OUT.glb, OUT.gltf or OUT.bvh")
      ->required()
      ->type_name("OUT");
  cmd->add_option("-f,--frames", o->frames, "Frames to export: FIRST-LAST (default: the scene's)")
      ->type_name("RANGE");
  cmd->add_option("--scale", o->scale, "Multiply every length written, e.g. 100 for centimetres")
      ->check(CLI::PositiveNumber)
      ->type_name("S");
  cmd->add_option("--units", o->units,
                  "Unit to write lengths in, the scene's being metres: m (default), cm, mm, in or\n"
                  "cmu (the CMU clips' 0.0254/0.45 m)")
      ->type_name("UNIT");
  add_module_option(cmd, o->module);
  add_strict_option(cmd, o->strict);
  add_raw_diagnostics_option(cmd, o->raw_diagnostics);
  return {cmd, [o] { return run_export(*o); }};
}

}  // namespace runner
