// tarsel-stage: runs scenes through the stand-in host with the Tarsel module loaded, as the
// animation program would, and reports what the chains did.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/runner/chains.h"
#include "stage/runner/frames.h"
#include "stage/runner/motion_commands.h"
#include "stage/runner/progress.h"
#include "stage/runner/render.h"
#include "stage/runner/report.h"
#include "stage/runner/value_range.h"
#include "stage/scene_file.h"
#include "stage/runner/view.h"

#ifndef TARSEL_DEFAULT_MODULE
#define TARSEL_DEFAULT_MODULE "tarsel.p"
#endif

namespace {

const char* const program = "tarsel-stage";

struct Run_options {
  std::string scene;
  std::string frames;
  std::string format;
  std::string output;
  std::string module;
  bool progress = false;
};

struct Panel_options {
  std::string scene;
  std::string item;
  std::vector<std::string> sets;
  bool save = false;
  std::string module;
};

// --module, else $TARSEL_MODULE, else the module built with this program.
std::string module_path(const std::string& option) {
  if (!option.empty()) return option;
  const char* env = std::getenv("TARSEL_MODULE");
  if (env != nullptr && *env != '\0') return env;
  return TARSEL_DEFAULT_MODULE;
}

void load_module(stage::Host& host, const std::string& path) {
  if (access(path.c_str(), R_OK) != 0)
    throw stage::Error("module not found: " + path + " (give --module PATH or set TARSEL_MODULE)");
  host.load_module(path);
}

void print_warnings(const stage::Host& host) {
  for (const std::string& w : host.warnings())
    std::fprintf(stderr, "%s: warning: %s\n", program, w.c_str());
}

// The options the subcommands share: the scene file and --module.
void add_scene_option(CLI::App* cmd, std::string& scene) {
  cmd->add_option("scene", scene, "Scene file (JSON)")->required()->type_name("SCENE");
}

void add_module_option(CLI::App* cmd, std::string& module) {
  cmd->add_option("-m,--module", module,
                  "Module file to load (default: the built tarsel.p, or $TARSEL_MODULE)")
      ->type_name("PATH");
}

bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int run(const Run_options& options) {
  runner::Format format = runner::Format::table;
  if (!options.format.empty()) {
    if (!runner::parse_format(options.format, format))
      throw stage::Error("unknown format \"" + options.format + "\" (table, csv or json)");
  } else if (ends_with(options.output, ".csv")) {
    format = runner::Format::csv;
  } else if (ends_with(options.output, ".json")) {
    format = runner::Format::json;
  }
  // A bad range is reported before anything is loaded.
  runner::Frame_range range;
  const bool has_range = !options.frames.empty();
  if (has_range) {
    range = runner::parse_frame_range(options.frames);
    runner::check_run_length(range, "--frames " + options.frames);
  }

  // An unwritable output is reported before the run, not after it.
  stage::Output_file output(options.output.empty() ? "-" : options.output);

  stage::Host host;
  runner::Report report;
  report.module = module_path(options.module);
  load_module(host, report.module);
  report.scene = options.scene;
  host.load_scene(options.scene);
  report.description = host.scene().description;
  print_warnings(host);
  const std::string beyond = runner::beyond_exact_range(host.scene());
  if (!beyond.empty())
    std::fprintf(stderr, "%s: warning: %s: %s\n", program, options.scene.c_str(), beyond.c_str());
  report.fps = host.scene().fps;
  if (!has_range) {
    range = {host.scene().frame_start, host.scene().frame_end};
    runner::check_run_length(range, options.scene + ": its frame range");
  }

  const std::vector<LWItemID> items = runner::reported_items(host.scene());
  const std::vector<runner::Chain> chains = runner::find_chains(host);
  // Frame by frame into the output: memory does not grow with the number of frames.
  runner::Report_writer writer(format, report,
                               [&](const std::string& text) { output.write(text); });
  {
    runner::Progress progress(range.count(), options.progress);
    long long done = 0;
    for (long long f = range.first; f <= range.last; ++f) {
      writer.frame(runner::sample_frame(host, static_cast<int>(f), items, chains));
      progress.update(++done, static_cast<int>(f));
    }
  }
  writer.finish();
  output.commit();
  return 0;
}

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool parse_number(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// Applies one "Label=value" edit as a user would make it in the panel.
void apply_setting(stage::Panel& panel, const std::string& setting) {
  const auto eq = setting.find('=');
  if (eq == std::string::npos)
    throw stage::Error("--set \"" + setting + "\": expected \"Label=value\"");
  const std::string label = trim(setting.substr(0, eq));
  const std::string text = trim(setting.substr(eq + 1));
  const stage::Panel_control* control = panel.control(label);
  if (control == nullptr) {
    const std::string wanted = lower(label);
    for (const stage::Panel_control& c : panel.controls())
      if (lower(c.label) == wanted) control = &c;
  }
  if (control == nullptr) {
    std::string labels;
    for (const stage::Panel_control& c : panel.controls())
      labels += (labels.empty() ? "" : ", ") + c.label;
    throw stage::Error("no control \"" + label + "\" in the panel (controls: " + labels + ")");
  }
  const std::string where = "--set \"" + setting + "\": ";
  double number = 0;
  switch (panel.value(control->id).kind) {
    case stage::Control_kind::popup: {
      const std::vector<std::string> entries = panel.entries(control->id);
      for (const std::string& e : entries) {
        if (e == text) {
          panel.choose(control->id, e);
          return;
        }
      }
      if (parse_number(text, number) && number >= 0 && number < entries.size() &&
          number == static_cast<int>(number)) {
        panel.set(control->id, number);
        return;
      }
      std::string names;
      for (const std::string& e : entries) names += (names.empty() ? "\"" : ", \"") + e + "\"";
      throw stage::Error(where + "no entry \"" + text + "\" (entries: " + names + ")");
    }
    case stage::Control_kind::boolean: {
      const std::string v = lower(text);
      if (v == "on" || v == "yes" || v == "true" || v == "1") {
        panel.set(control->id, 1);
      } else if (v == "off" || v == "no" || v == "false" || v == "0") {
        panel.set(control->id, 0);
      } else {
        throw stage::Error(where + "expected on or off");
      }
      return;
    }
    default:
      if (!parse_number(text, number)) throw stage::Error(where + "expected a number");
      panel.set(control->id, number);
      return;
  }
}

int panel(const Panel_options& options) {
  stage::Host host;
  load_module(host, module_path(options.module));
  host.load_scene(options.scene);
  print_warnings(host);
  // A scene that cannot be written back is reported before anything is changed.
  std::unique_ptr<stage::Output_file> saved;
  if (options.save) saved = std::make_unique<stage::Output_file>(options.scene);

  std::vector<LWItemID> roots;
  for (const runner::Chain& chain : runner::find_chains(host)) {
    if (options.item.empty() || host.scene().at(chain.root).name == options.item)
      roots.push_back(chain.root);
  }
  if (roots.empty()) {
    throw stage::Error(options.item.empty() ? options.scene + ": no item carries Tarsel_Top"
                                            : options.scene + ": no item named \"" + options.item +
                                                  "\" carries Tarsel_Top");
  }
  if (!options.sets.empty() && roots.size() > 1) {
    throw stage::Error(options.scene + ": several chain roots; name the one to edit with --item");
  }

  for (std::size_t r = 0; r < roots.size(); ++r) {
    stage::Panel& p = host.open_panel(roots[r], "Tarsel_Top");
    for (const std::string& s : options.sets) apply_setting(p, s);
    std::printf("%sTarsel_Top on \"%s\"\n", r > 0 ? "\n" : "",
                host.scene().at(roots[r]).name.c_str());
    std::size_t width = 0;
    const std::vector<stage::Control_value> values = p.values();
    for (const stage::Control_value& v : values) width = std::max(width, v.label.size());
    for (const stage::Control_value& v : values) {
      std::printf("  %-*s  %s\n", static_cast<int>(width), v.label.c_str(),
                  stage::format_value(v).c_str());
    }
  }
  if (options.save) {
    saved->commit(stage::format_scene(host.scene_record()));
    std::fprintf(stderr, "%s: saved %s\n", program, options.scene.c_str());
  } else if (!options.sets.empty()) {
    std::fprintf(stderr, "%s: not saved (add --save to write the changes to %s)\n", program,
                 options.scene.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Runs Tarsel inverse-kinematics rigs headless: loads the Tarsel module (tarsel.p) into a\n"
      "stand-in host, opens a scene file (JSON; see docs/scene-format.md and examples/),\n"
      "evaluates frames and reports every chain's rotations, positions and distance to its goal."};
  app.name(program);
  app.require_subcommand(1);
  app.footer(
      "Examples:\n"
      "  tarsel-stage run examples/two_bone_arm.json\n"
      "  tarsel-stage run examples/leg_limits.json --frames 0-24 --format csv -o leg.csv\n"
      "  tarsel-stage panel examples/two_bone_arm.json\n"
      "  tarsel-stage panel examples/two_bone_arm.json --set \"Posture Weight=0.5\" --save\n"
      "\n"
      "The module is the one built with this program unless --module or the environment\n"
      "variable TARSEL_MODULE names another.");

  Run_options run_options;
  CLI::App* run_cmd = app.add_subcommand(
      "run",
      "Evaluate a range of frames and report, per frame and per item carrying a motion\n"
      "handler, its heading, pitch and bank (degrees) and world position, and for each\n"
      "chain the distance from its end to its goal.");
  add_scene_option(run_cmd, run_options.scene);
  run_cmd
      ->add_option(
          "-f,--frames", run_options.frames,
          "Frames to evaluate: FRAME or FIRST-LAST, e.g. 0-48, at most 10000000 (default: the "
          "scene's own range)")
      ->type_name("RANGE");
  run_cmd
      ->add_option("--format", run_options.format,
                   "table (default), csv or json; with --output FILE.csv or FILE.json the "
                   "extension chooses")
      ->type_name("FORMAT");
  run_cmd
      ->add_option("-o,--output", run_options.output,
                   "Write the report to FILE instead of standard output (\"-\"): a regular "
                   "file is written whole or not at all, through a symbolic link to the file it "
                   "leads to; a FIFO or device such as /dev/null is written to directly")
      ->type_name("FILE");
  add_module_option(run_cmd, run_options.module);
  run_cmd->add_flag("--progress", run_options.progress,
                    "Show progress on stderr even when it is not a terminal");

  Panel_options panel_options;
  CLI::App* panel_cmd = app.add_subcommand(
      "panel",
      "Show the options panel of each chain root (items carrying Tarsel_Top), and\n"
      "change its settings with --set.");
  add_scene_option(panel_cmd, panel_options.scene);
  panel_cmd->add_option("-i,--item", panel_options.item, "Only the chain root of this name")
      ->type_name("NAME");
  panel_cmd
      ->add_option("-s,--set", panel_options.sets,
                   "Set a control: \"Label=value\", e.g. \"Posture Weight=0.5\", "
                   "\"Arbitrary Limit=on\", \"Twist Target=elbow_pole\" (repeatable)")
      ->type_name("SETTING")
      ->allow_extra_args(false);
  panel_cmd->add_flag("--save", panel_options.save,
                      "Write the changed settings back to the scene file");
  add_module_option(panel_cmd, panel_options.module);

  const std::vector<runner::Command> motion_commands = {
      runner::add_import_command(app), runner::add_rig_command(app),
      runner::add_bake_command(app, module_path), runner::add_export_command(app, module_path)};
  runner::View_options view_options;
  CLI::App* view_cmd = runner::add_view_command(app, view_options);
  runner::Render_options render_options;
  CLI::App* render_cmd = runner::add_render_command(app, render_options);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    std::fprintf(stderr, "%s: error: %s (see %s --help)\n", program, e.what(), program);
    return 2;  // a usage error
  }

  try {
    if (run_cmd->parsed()) return run(run_options);
    for (const runner::Command& c : motion_commands)
      if (c.app->parsed()) return c.run();
    if (view_cmd->parsed()) return runner::run_view(view_options);
    if (render_cmd->parsed()) return runner::run_render(render_options);
    return panel(panel_options);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "%s: error: out of memory (the scene is too large for this machine)\n",
                 program);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: error: %s\n", program, e.what());
  }
  return 1;
}
