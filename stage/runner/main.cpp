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
#include "stage/runner/command_options.h"
#include "stage/runner/frames.h"
#include "stage/runner/motion_commands.h"
#include "stage/runner/progress.h"
#include "stage/runner/render.h"
#include "stage/runner/report.h"
#include "stage/runner/stderr_capture.h"
#include "stage/runner/value_range.h"
#include "stage/runner/view.h"
#include "stage/runner/warnings.h"
#include "stage/scene_file.h"

#ifndef TARSEL_VERSION
#define TARSEL_VERSION "0"
#endif

#ifndef TARSEL_DEFAULT_MODULE
#define TARSEL_DEFAULT_MODULE "tarsel.p"
#endif

namespace {

const char* const program = "tarsel-stage";

struct Run_options {
  std::vector<std::string> scenes;
  std::string frames;
  std::string format;
  std::string output;
  std::string module;
  bool progress = false;
  bool strict = false;
  bool raw_diagnostics = false;
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
  if (access(TARSEL_DEFAULT_MODULE, R_OK) == 0) return TARSEL_DEFAULT_MODULE;
  // Installed (cmake --install): the module sits in ../lib/tarsel beside the program's folder.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, static_cast<std::size_t>(n));
    dir = dir.substr(0, dir.rfind('/'));
    const std::string installed = dir + "/../lib/tarsel/tarsel.p";
    if (access(installed.c_str(), R_OK) == 0) return installed;
  }
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

bool ends_with(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The format an output file's extension asks for; false for any other extension.
bool format_of_file(const std::string& path, runner::Format& format) {
  if (ends_with(path, ".csv")) {
    format = runner::Format::csv;
  } else if (ends_with(path, ".json")) {
    format = runner::Format::json;
  } else if (ends_with(path, ".txt")) {
    format = runner::Format::table;
  } else {
    return false;
  }
  return true;
}

const char* format_name(runner::Format format) {
  return format == runner::Format::csv ? "csv" : format == runner::Format::json ? "json" : "table";
}

// --format, else the --output extension, else a table. A --format that contradicts the
// extension is refused rather than writing, say, CSV into a .json file.
runner::Format choose_format(const Run_options& options) {
  runner::Format by_file = runner::Format::table;
  const bool file_says = format_of_file(options.output, by_file);
  if (options.format.empty()) return by_file;
  runner::Format format = runner::Format::table;
  if (!runner::parse_format(options.format, format))
    throw stage::Error("unknown format \"" + options.format + "\" (table, csv or json)");
  if (file_says && format != by_file) {
    throw stage::Error("--format " + options.format + " contradicts the output file " +
                       options.output + " (a ." + format_name(by_file) +
                       " file); drop --format or change the extension");
  }
  return format;
}

// Splits one frame's captured stderr among the chains that reported in it: what was written up
// to a chain's report belongs to that chain. Lines that are not the module's diagnostics are
// passed on.
void take_diagnostics(const std::string& text, const std::vector<long long>& offsets,
                      const std::vector<TarselChainReport>& reports, runner::Frame_sample& frame,
                      runner::Diagnostic_counts& scene_counts) {
  std::size_t from = 0;
  for (std::size_t r = 0; r <= offsets.size(); ++r) {
    const std::size_t to =
        r < offsets.size() ? std::min<std::size_t>(text.size(), offsets[r]) : text.size();
    runner::Diagnostic_counts counts;
    const std::string rest = runner::count_diagnostics(text.substr(from, to - from), &counts);
    if (!rest.empty()) std::fwrite(rest.data(), 1, rest.size(), stderr);
    scene_counts.abs_zero += counts.abs_zero;
    scene_counts.determinant_zero += counts.determinant_zero;
    if (r < offsets.size() && r < reports.size()) {
      for (runner::Item_sample& item : frame.items) {
        if (item.is_chain_root && item.has_report && item.report.root == reports[r].root)
          item.diagnostic_lines += counts.total();
      }
    }
    from = to;
  }
}

// What the module's diagnostic lines add up to over a scene's run, for one summary line instead
// of the raw lines: how many, in which frames, on which chains, and a likely cause when every
// chain concerned was stretched straight (a straight chain has no bending plane).
struct Diagnostics_summary {
  runner::Diagnostic_counts counts;
  bool seen = false, all_straight = true;
  int first = 0, last = 0;
  std::vector<std::string> chains;

  void add(const runner::Frame_sample& f) {
    for (const runner::Item_sample& s : f.items) {
      if (s.diagnostic_lines == 0) continue;
      if (!seen) first = f.frame;
      last = f.frame;
      seen = true;
      if (std::find(chains.begin(), chains.end(), s.name) == chains.end()) chains.push_back(s.name);
      const TarselChainReport& r = s.report;
      all_straight &= s.has_report && r.reach_measured &&
                      r.goal_distance_root >= r.longest - r.length_tolerance;
    }
  }

  void print(const std::string& scene) const {
    if (counts.total() == 0) return;
    std::string what;
    if (counts.abs_zero > 0)
      what = std::to_string(counts.abs_zero) + " degenerate direction" +
             (counts.abs_zero == 1 ? "" : "s");
    if (counts.determinant_zero > 0) {
      what += (what.empty() ? "" : " and ") + std::to_string(counts.determinant_zero) +
              " singular matri" + (counts.determinant_zero == 1 ? "x" : "ces");
    }
    std::string where;
    if (seen) {
      where = first == last
                  ? " in frame " + std::to_string(first)
                  : " in frames " + std::to_string(first) + "\u2013" + std::to_string(last);
      where += " (chain";
      for (std::size_t i = 0; i < chains.size(); ++i)
        where += std::string(i == 0 ? " " : ", ") + "\"" + chains[i] + "\"";
      where += ")";
    }
    const std::string cause = seen && all_straight
                                  ? ": the chain was stretched straight towards a goal out of reach"
                                  : "";
    std::fprintf(stderr, "%s: note: %s: %s%s%s (--raw-diagnostics shows the module's lines)\n",
                 program, scene.c_str(), what.c_str(), where.c_str(), cause.c_str());
  }
};

// Where one scene's report goes in a run of several: CSV under one header, JSON as
// {"scenes": [report, ...]}, tables one after the other.
struct Run_output {
  stage::Output_file& file;
  runner::Format format;
  bool several = false;
  int reports = 0;  // reports started so far
};

// Loads and evaluates one scene, streaming its report frame by frame. Throws stage::Error for a
// scene that cannot run; nothing of its report is written then. Returns whether it warned.
bool run_scene(const Run_options& options, const std::string& scene, Run_output& out) {
  // A bad range is reported before anything is loaded.
  runner::Frame_range range;
  const bool has_range = !options.frames.empty();
  if (has_range) {
    range = runner::parse_frame_range(options.frames);
    runner::check_run_length(range, "--frames " + options.frames);
  }

  stage::Host host;
  runner::Report report;
  report.module = module_path(options.module);
  load_module(host, report.module);
  report.scene = scene;
  host.load_scene(scene);
  report.description = host.scene().description;
  report.warnings = host.warnings();
  const std::string beyond = runner::beyond_exact_range(host.scene());
  if (!beyond.empty()) report.warnings.push_back(scene + ": " + beyond);
  for (const std::string& w : runner::rig_warnings(host, scene)) report.warnings.push_back(w);
  for (const std::string& w : report.warnings)
    std::fprintf(stderr, "%s: warning: %s\n", program, w.c_str());
  report.fps = host.scene().fps;
  if (!has_range) {
    range = {host.scene().frame_start, host.scene().frame_end};
    runner::check_run_length(range, scene + ": its frame range");
  }

  const std::vector<LWItemID> items = runner::reported_items(host.scene());
  const std::vector<runner::Chain> chains = runner::find_chains(host);
  // The module's diagnostic lines are captured frame by frame and split among the chains by
  // how much had been written when each chain's report came in.
  runner::Stderr_capture capture(!options.raw_diagnostics);
  std::vector<long long> offsets;
  host.set_chain_report_hook([&] { offsets.push_back(capture.size()); });
  Diagnostics_summary summary;

  if (out.several && out.format == runner::Format::json)
    out.file.write(out.reports == 0 ? "{\"scenes\": [\n" : ",\n");
  bool drop_header = out.format == runner::Format::csv && out.reports > 0;
  if (out.format == runner::Format::table && out.reports > 0) out.file.write("\n");
  ++out.reports;
  // Frame by frame into the output: memory does not grow with the number of frames.
  runner::Report_writer writer(out.format, report, [&](const std::string& text) {
    if (drop_header) {
      drop_header = false;
      return;
    }
    out.file.write(text);
  });
  {
    runner::Progress progress(range.count(), options.progress);
    long long done = 0;
    for (long long f = range.first; f <= range.last; ++f) {
      offsets.clear();
      capture.begin();
      runner::Frame_sample sample = runner::sample_frame(host, static_cast<int>(f), items, chains);
      take_diagnostics(capture.end(), offsets, host.chain_reports(), sample, summary.counts);
      summary.add(sample);
      writer.frame(sample);
      progress.update(++done, static_cast<int>(f));
    }
  }
  host.set_chain_report_hook(nullptr);
  writer.finish();
  summary.print(scene);
  return !report.warnings.empty();
}

int run(const Run_options& options) {
  const runner::Format format = choose_format(options);
  if (!options.frames.empty()) runner::parse_frame_range(options.frames);  // fail before loading
  // An unwritable output is reported before the run, not after it.
  stage::Output_file file(options.output.empty() ? "-" : options.output);
  Run_output out{file, format, options.scenes.size() > 1};
  bool failed = false, warned = false;
  for (const std::string& scene : options.scenes) {
    try {
      warned |= run_scene(options, scene, out);
    } catch (const stage::Error& e) {
      // The other scenes still run; the run fails at the end.
      if (!out.several) throw;
      std::fprintf(stderr, "%s: error: %s\n", program, e.what());
      failed = true;
    }
  }
  if (out.several && format == runner::Format::json)
    file.write(out.reports == 0 ? "{\"scenes\": []}\n" : "]}\n");
  // A failed run leaves no report behind: the temporary file goes uncommitted.
  if (failed) return 1;
  if (warned && options.strict) {
    std::fprintf(stderr, "%s: error: warnings given and --strict is set\n", program);
    return 1;
  }
  file.commit();
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

// What a numeric option accepts, as the module treats it.
const char* accepted_range(const std::string& label) {
  if (label == "Posture Weight") return "0 and up; a negative value is raised to 0";
  if (label == "Soft Reach") return "0 to 0.5 of the chain's length, 0 off; kept within the range";
  if (label == "Max Stretch") return "1 to 10, 1 off; kept within the range";
  return "any number";
}

// A control's value as the panel shows it to a user: an item option by name with the item's
// identifier in the file, a switch as on/off, a number with what it accepts.
std::string shown_value(const stage::Host& host, const stage::Control_value& v) {
  if (v.kind == stage::Control_kind::popup) {
    if (!v.has_value) return "-";
    if (v.integer == 0) return "(none)";
    const LWItemID item = host.scene().find_by_name(v.entry);
    if (item == LWITEM_NULL) return v.entry;
    const uint32_t id = host.file_id(item);
    return v.entry + " (" + std::to_string(id != 0 ? id : stage::id_value(item)) + ")";
  }
  if (v.kind == stage::Control_kind::number) {
    return stage::format_value(v) + "  (" + accepted_range(v.label) + ")";
  }
  return stage::format_value(v);
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
      // An item as the panel shows it, "name (id)", names the item too.
      std::string name = text;
      const auto open = name.rfind(" (");
      if (!name.empty() && name.back() == ')' && open != std::string::npos && open > 0)
        name = name.substr(0, open);
      for (const std::string& e : entries) {
        if (e == text || e == name) {
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
    default: {
      if (!parse_number(text, number)) throw stage::Error(where + "expected a number");
      panel.set(control->id, number);
      const stage::Control_value now = panel.value(control->id);
      if (now.kind == stage::Control_kind::number && now.number != number) {
        std::fprintf(stderr, "%s: note: %s%s was changed to %s by the module (%s takes %s)\n",
                     program, where.c_str(), text.c_str(), stage::format_value(now).c_str(),
                     control->label.c_str(), accepted_range(control->label));
      }
      return;
    }
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
      std::printf("  %-*s = %s\n", static_cast<int>(width), v.label.c_str(),
                  shown_value(host, v).c_str());
    }
  }
  if (options.save) {
    saved->commit(stage::format_scene(host.file_record()));
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
  app.set_version_flag("--version", std::string(program) + " " + TARSEL_VERSION);
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
      "Evaluate a range of frames of each scene and report, per frame and per item carrying\n"
      "a motion handler, its local and world heading, pitch and bank (degrees) and world\n"
      "position, and for each chain its end and goal, whether it reached the goal (or why\n"
      "not), its reach, bend fraction, the limits that acted, the twist target's state and\n"
      "the effect weight (docs/guide.md). Warnings for rigs that cannot work as meant are\n"
      "given once per scene.");
  run_cmd->add_option("scenes", run_options.scenes, "Scene files (JSON), each reported in turn")
      ->required()
      ->type_name("SCENE");
  run_cmd
      ->add_option(
          "-f,--frames", run_options.frames,
          "Frames to evaluate: FRAME or FIRST-LAST, e.g. 0-48, at most 10000000 (default: the "
          "scene's own range)")
      ->type_name("RANGE");
  run_cmd
      ->add_option("--format", run_options.format,
                   "table (default), csv or json; with --output FILE.csv or FILE.json the "
                   "extension chooses, and a --format that contradicts it is refused")
      ->type_name("FORMAT");
  run_cmd
      ->add_option("-o,--output", run_options.output,
                   "Write the report to FILE instead of standard output (\"-\"): a regular "
                   "file is written whole or not at all, through a symbolic link to the file it "
                   "leads to; a FIFO or device such as /dev/null is written to directly")
      ->type_name("FILE");
  runner::add_module_option(run_cmd, run_options.module);
  run_cmd->add_flag("--progress", run_options.progress,
                    "Show progress on stderr even when it is not a terminal");
  run_cmd->add_flag("--strict", run_options.strict, "Fail (exit 1) when a scene gives warnings");
  run_cmd->add_flag("--raw-diagnostics", run_options.raw_diagnostics,
                    "Pass the module's own diagnostic lines (\"abs = 0\", \"determinant = 0\") "
                    "to stderr instead of counting them");

  Panel_options panel_options;
  CLI::App* panel_cmd = app.add_subcommand(
      "panel",
      "Show the options panel of each chain root (items carrying Tarsel_Top), and\n"
      "change its settings with --set.");
  runner::add_scene_option(panel_cmd, panel_options.scene);
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
  runner::add_module_option(panel_cmd, panel_options.module);

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
