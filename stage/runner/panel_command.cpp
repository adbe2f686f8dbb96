// tarsel-stage panel SCENE: each chain root's options as its panel shows them, changed with --set
// and saved with --save.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "stage/error.h"
#include "stage/host.h"
#include "stage/output_file.h"
#include "stage/report/chains.h"
#include "stage/report/options.h"
#include "stage/runner/command_options.h"
#include "stage/runner/commands.h"
#include "stage/runner/module_path.h"
#include "stage/scene_file.h"

namespace runner {

namespace {

struct Panel_options {
  std::string scene;
  std::string item;
  std::vector<std::string> sets;
  bool save = false;
  std::string module;
};

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
    return stage::format_value(v) + "  (" + report::accepted_range(v.label) + ")";
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
      // Options are kept in single precision: a value changed only by that rounding is not a
      // change the module made.
      if (now.kind == stage::Control_kind::number &&
          static_cast<float>(now.number) != static_cast<float>(number)) {
        std::fprintf(stderr,
                     "tarsel-stage: note: %s%s was changed to %s by the module (%s takes %s)\n",
                     where.c_str(), text.c_str(), stage::format_value(now).c_str(),
                     control->label.c_str(), report::accepted_range(control->label));
      }
      return;
    }
  }
}

// The scene file's text, read once: it is loaded from this text and a save patches it.
std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw stage::Error(path + ": cannot open: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw stage::Error(path + ": cannot read");
  return text.str();
}

int panel(const Panel_options& options) {
  stage::Host host;
  load_module(host, module_path(options.module));
  const std::string original = read_text(options.scene);
  host.load_scene_record(stage::parse_scene(original, options.scene), options.scene);
  print_warnings(host);
  // A scene that cannot be written back is reported before anything is changed.
  std::unique_ptr<stage::Output_file> saved;
  std::string before;  // the scene as the host saves it, before the edits
  if (options.save) {
    saved = std::make_unique<stage::Output_file>(options.scene);
    before = stage::format_scene(host.file_record());
  }

  std::vector<LWItemID> roots;
  std::string names;  // every chain root, for the messages that need one named
  for (const report::Chain& chain : report::find_chains(host)) {
    const std::string& name = host.scene().at(chain.root).name;
    names += (names.empty() ? "\"" : ", \"") + name + "\"";
    if (options.item.empty() || name == options.item) roots.push_back(chain.root);
  }
  if (roots.empty()) {
    throw stage::Error(options.item.empty()
                           ? options.scene + ": no item carries Tarsel_Top"
                           : options.scene + ": no item named \"" + options.item +
                                 "\" carries Tarsel_Top" +
                                 (names.empty() ? "" : " (chain roots: " + names + ")"));
  }
  if (!options.sets.empty() && roots.size() > 1) {
    throw stage::Error(options.scene + ": several chain roots (" + names +
                       "); name the one to edit with --item");
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
    // Only the values the edits changed are rewritten; every other byte of the file is kept.
    const std::string after = stage::format_scene(host.file_record());
    std::string text = stage::patch_scene_text(original, before, after);
    try {
      stage::parse_scene(text, options.scene);
    } catch (const stage::Error&) {
      text = after;  // (never expected: the patched text holds the same values)
    }
    saved->commit(text);
    std::fprintf(stderr, "tarsel-stage: saved %s\n", options.scene.c_str());
  } else if (!options.sets.empty()) {
    std::fprintf(stderr, "tarsel-stage: not saved (add --save to write the changes to %s)\n",
                 options.scene.c_str());
  }
  return 0;
}

}  // namespace

Command add_panel_command(CLI::App& app) {
  auto o = std::make_shared<Panel_options>();
  CLI::App* cmd = app.add_subcommand(
      "panel",
      "Show the options panel of each chain root (items carrying Tarsel_Top), and\n"
      "change its settings with --set.");
  add_scene_option(cmd, o->scene);
  cmd->add_option("-i,--item", o->item, "Only the chain root of this name")->type_name("NAME");
  cmd->add_option("-s,--set", o->sets,
                  "Set a control: \"Label=value\", e.g. \"Posture Weight=0.5\", "
                  "\"Arbitrary Limit=on\", \"Twist Target=elbow_pole\" (repeatable)")
      ->type_name("SETTING")
      ->allow_extra_args(false);
  cmd->add_flag("--save", o->save, "Write the changed settings back to the scene file");
  add_module_option(cmd, o->module);
  return {cmd, [o] { return panel(*o); }};
}

}  // namespace runner
