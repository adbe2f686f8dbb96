// What the viewer page asks of the solver when it runs in the page: one host with the module
// loaded, a scene read from its JSON text, frames evaluated, channels edited, and the answers as
// JSON text. The WebAssembly entry (web_main.cpp) hands these to the page; the native build
// compiles the same code, so that both builds can be asked the same questions and compared.
#ifndef TARSEL_STAGE_WEB_SESSION_H
#define TARSEL_STAGE_WEB_SESSION_H

#include <string>
#include <vector>

#include "stage/host.h"

namespace web {

class Session {
 public:
  // Loads the module: a file, or the name a linked module was registered under
  // (stage::register_linked_module).
  explicit Session(const std::string& module);

  // Replaces the scene with the one the scene file text holds; `name` is used in messages.
  // Throws stage::Error as loading a file does; the old scene stays then.
  void load(const std::string& scene_text, const std::string& name);

  // The loaded scene's warnings and the rig checks' findings, as the runner reports them.
  std::vector<std::string> warnings();

  // Every item's rotation channel (radians, heading pitch bank) after evaluating each frame of
  // first..last:
  //   {"items": [name, ...], "first", "last", "rotations": [[h, p, b, h, p, b, ...] per frame]}
  // in scene order, numbers in full (17 significant digits), null for one that is not finite.
  std::string rotations_json(int first, int last);

  // The viewer's data for first..last (pictures::view_data_json).
  std::string view_data_json(int first, int last);

  // Sets an item's channel (LWIP_ position 0, rotation 1, scaling 2, pivot 3, pivot rotation 4)
  // to a value: as a key at the frame when `key` is set, else as the value it holds when it has
  // no keys (a keyed channel gets its keys moved by the change at that frame). Throws
  // stage::Error for an unknown item or channel.
  void set_channel(const std::string& item, int channel, int frame, const stage::Vec3& value,
                   bool key);

  // The options panel of the chain root `root` (its Tarsel_Top), as the module describes it:
  //   {"root", "options": [{"id", "label", "kind": "popup"|"switch"|"integer"|"number"|"other",
  //   "value", "entries": [...] (pop-ups), "range" (numbers)}]}
  // with the value the module reports (a pop-up's entry index, a switch 0 or 1, null unread).
  // Throws stage::Error for an item that is not a chain root.
  std::string options_json(const std::string& root);

  // Sets the control `id` of the root's panel as a user would (a pop-up's index, a switch 0 or
  // 1, a number), through the module's own set callback. Throws stage::Error as options_json
  // does, and for an unknown control or a value its type cannot take.
  void set_option(const std::string& root, unsigned long id, double value);

  // The scene as its file would hold it now (what "save" writes).
  std::string scene_text();

  stage::Host& host() { return host_; }

 private:
  stage::Panel& panel(const std::string& root);

  stage::Host host_;
  std::string name_;
};

}  // namespace web

#endif
