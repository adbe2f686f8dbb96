// tarsel-stage run SCENE...: evaluates each scene's frames and reports what the chains did.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/report/chains.h"
#include "stage/report/diagnostics_summary.h"
#include "stage/report/frames.h"
#include "stage/report/report.h"
#include "stage/report/stderr_capture.h"
#include "stage/report/warnings.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/module_path.h"
#include "stage/runner/progress.h"

namespace runner {

namespace {

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

// The format an output file's extension asks for; false for any other extension.
bool format_of_file(const std::string& path, report::Format& format) {
  if (ends_with(path, ".csv")) {
    format = report::Format::csv;
  } else if (ends_with(path, ".json")) {
    format = report::Format::json;
  } else if (ends_with(path, ".txt")) {
    format = report::Format::table;
  } else {
    return false;
  }
  return true;
}

const char* format_name(report::Format format) {
  return format == report::Format::csv ? "csv" : format == report::Format::json ? "json" : "table";
}

// --format, else the --output extension, else a table. A --format that contradicts the
// extension is refused rather than writing, say, CSV into a .json file.
report::Format choose_format(const Run_options& options) {
  report::Format by_file = report::Format::table;
  const bool file_says = format_of_file(options.output, by_file);
  if (options.format.empty()) return by_file;
  report::Format format = report::Format::table;
  if (!report::parse_format(options.format, format))
    throw stage::Error("unknown format \"" + options.format + "\" (table, csv or json)");
  if (file_says && format != by_file) {
    throw stage::Error("--format " + options.format + " contradicts the output file " +
                       options.output + " (a ." + format_name(by_file) +
                       " file); drop --format or change the extension");
  }
  return format;
}

// Where one scene's report goes in a run of several: CSV under one header, JSON as
// {"scenes": [report, ...]}, tables one after the other.
struct Run_output {
  stage::Output_file& file;
  report::Format format;
  bool several = false;
  int reports = 0;  // reports started so far
};

// Loads and evaluates one scene, streaming its report frame by frame. Throws stage::Error for a
// scene that cannot run; nothing of its report is written then. Returns whether it warned.
bool run_scene(const Run_options& options, const std::string& scene, Run_output& out) {
  // A bad range is reported before anything is loaded.
  report::Frame_range range;
  const bool has_range = !options.frames.empty();
  if (has_range) {
    range = report::parse_frame_range(options.frames);
    report::check_run_length(range, "--frames " + options.frames);
  }

  stage::Host host;
  report::Report report;
  report.module = module_path(options.module);
  load_module(host, report.module);
  report.scene = scene;
  host.load_scene(scene);
  report.description = host.scene().description;
  report.warnings = report::scene_warnings(host, scene);
  for (const std::string& w : report.warnings)
    std::fprintf(stderr, "tarsel-stage: warning: %s\n", w.c_str());
  report.fps = host.scene().fps;
  if (!has_range) {
    range = {host.scene().frame_start, host.scene().frame_end};
    report::check_run_length(range, scene + ": its frame range");
  }

  const std::vector<LWItemID> items = report::reported_items(host.scene());
  const std::vector<report::Chain> chains = report::find_chains(host);
  // The module's diagnostic lines are captured frame by frame and split among the chains by
  // how much had been written when each chain's report came in.
  report::Stderr_capture capture(!options.raw_diagnostics);
  std::vector<long long> offsets;
  host.set_chain_report_hook([&] { offsets.push_back(capture.size()); });
  report::Diagnostics_summary summary;

  if (out.several && out.format == report::Format::json)
    out.file.write(out.reports == 0 ? "{\"scenes\": [\n" : ",\n");
  bool drop_header = out.format == report::Format::csv && out.reports > 0;
  if (out.format == report::Format::table && out.reports > 0) out.file.write("\n");
  ++out.reports;
  // Frame by frame into the output: memory does not grow with the number of frames.
  report::Report_writer writer(out.format, report, [&](const std::string& text) {
    if (drop_header) {
      drop_header = false;
      return;
    }
    out.file.write(text);
  });
  {
    Progress progress(range.count(), options.progress);
    long long done = 0;
    for (long long f = range.first; f <= range.last; ++f) {
      offsets.clear();
      capture.begin();
      report::Frame_sample sample = report::sample_frame(host, static_cast<int>(f), items, chains);
      report::take_diagnostics(capture.end(), offsets, host.chain_reports(), sample,
                               summary.counts);
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
  const report::Format format = choose_format(options);
  if (!options.frames.empty()) report::parse_frame_range(options.frames);  // fail before loading
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
      std::fprintf(stderr, "tarsel-stage: error: %s\n", e.what());
      failed = true;
    }
  }
  if (out.several && format == report::Format::json)
    file.write(out.reports == 0 ? "{\"scenes\": []}\n" : "]}\n");
  // A failed run leaves no report file behind (its temporary file goes uncommitted); a stream
  // keeps what it was sent.
  const bool strict_failure = warned && options.strict;
  if (!(failed || strict_failure) || file.direct()) file.commit();
  if (failed) return 1;
  if (strict_failure) {
    std::fprintf(stderr, "tarsel-stage: error: warnings given and --strict is set\n");
    return 1;
  }
  return 0;
}

}  // namespace

Command add_run_command(CLI::App& app) {
  auto o = std::make_shared<Run_options>();
  CLI::App* cmd = app.add_subcommand(
      "run",
      "Evaluate a range of frames of each scene and report, per frame and per item carrying\n"
      "a motion handler, its local and world heading, pitch and bank (degrees) and world\n"
      "position, and for each chain its end and goal, whether it reached the goal (or why\n"
      "not), its reach, bend fraction, the limits that acted, the twist target's state and\n"
      "the effect weight (docs/guide.md). Warnings for rigs that cannot work as meant are\n"
      "given once per problem.");
  cmd->add_option("scenes", o->scenes, "Scene files (JSON), each reported in turn")
      ->required()
      ->type_name("SCENE");
  cmd->add_option(
         "-f,--frames", o->frames,
         "Frames to evaluate: FRAME or FIRST-LAST, e.g. 0-48, at most 10000000 (default: the "
         "scene's own range)")
      ->type_name("RANGE");
  cmd->add_option("--format", o->format,
                  "table (default), csv or json; with --output FILE.csv or FILE.json the "
                  "extension chooses, and a --format that contradicts it is refused")
      ->type_name("FORMAT");
  cmd->add_option("-o,--output", o->output,
                  "Write the report to FILE instead of standard output (\"-\"): a regular "
                  "file is written whole or not at all, through a symbolic link to the file it "
                  "leads to; a FIFO or device such as /dev/null is written to directly")
      ->type_name("FILE");
  add_module_option(cmd, o->module);
  cmd->add_flag("--progress", o->progress,
                "Show progress on stderr even when it is not a terminal");
  cmd->add_flag("--strict", o->strict, "Fail (exit 1) when a scene gives warnings");
  add_raw_diagnostics_option(cmd, o->raw_diagnostics);
  return {cmd, [o] { return run(*o); }};
}

}  // namespace runner
