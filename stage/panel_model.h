// The panel model: what a module builds through the "LWXPanel" service (controls, data
// description, hints, get and set callbacks, the bound instance), and what a user does with it:
// read the controls' values, list a pop-up's entries, set a value.
#ifndef TARSEL_STAGE_PANEL_MODEL_H
#define TARSEL_STAGE_PANEL_MODEL_H

#include <map>
#include <string>
#include <vector>

#include "sdk/lwxpanel.h"

namespace stage {

class Service_host;

enum class Control_kind { popup, boolean, integer, number, other };

struct Panel_control {
  unsigned long id = 0;
  std::string label;
  std::string control_class;  // "iPopChoice", "iBoolean", "float", ...
  std::string data_type;      // from the data description: "integer", "float"; empty if none
  XpPopCountFunc* pop_count = nullptr;  // from an XpPOPFUNC hint
  XpPopNameFunc* pop_name = nullptr;
};

// A control's current value as the module reports it through the panel's get callback.
struct Control_value {
  unsigned long id = 0;
  std::string label;
  Control_kind kind = Control_kind::other;
  bool has_value = false;  // false when the get callback returned null or the type is not read
  int integer = 0;         // pop-up index, switch or integer
  double number = 0;       // float controls
  std::string entry;       // pop-ups: the name of the chosen entry
};

// Display form of a value: "2 (Bone)", "on", "off", "0.5", "-" when unset.
std::string format_value(const Control_value& value);

class Panel {
 public:
  Panel(Service_host& host, int type, const LWXPanelControl* controls);
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  // Recording what the module builds (called from the "LWXPanel" service).
  void describe(const LWXPanelDataDesc* data, LWXPanelGetFunc* get, LWXPanelSetFunc* set);
  void hint(unsigned long id, const LWXPanelHint* hints);
  void view_instance(void* instance) { instance_ = instance; }
  void set_data(unsigned long id, void* data) { user_data_[id] = data; }

  int type() const { return type_; }
  const std::string& label() const { return label_; }  // the panel's title (XpLABEL for id 0)
  const std::vector<Panel_control>& controls() const { return controls_; }
  const Panel_control* control(unsigned long id) const;
  const Panel_control* control(const std::string& label) const;  // by label
  void* instance() const { return instance_; }
  void* data(unsigned long id) const;  // user data of a control, else of the panel, else null
  bool has_callbacks() const { return get_ && set_; }

  // What a user sees and does; each calls into the module with the panel's host current.
  std::vector<Control_value> values();
  Control_value value(unsigned long id);
  // Entry names of a pop-up, from entry 0. Throws Error for a control without pop-up callbacks.
  std::vector<std::string> entries(unsigned long id);
  // Sets a control as a user would: through the module's set callback, with the value converted
  // to the control's data type (pop-ups and switches take the index or 0/1). Returns the refresh
  // code. Throws Error for an unknown control, a panel without callbacks or a value that does
  // not fit the data type.
  int set(unsigned long id, double value);
  // Chooses a pop-up entry by name. Throws Error when no entry has that name.
  int choose(unsigned long id, const std::string& entry);

 private:
  Control_value read(const Panel_control& control);

  Service_host* host_;
  int type_;
  std::string label_;
  std::vector<Panel_control> controls_;
  LWXPanelGetFunc* get_ = nullptr;
  LWXPanelSetFunc* set_ = nullptr;
  void* instance_ = nullptr;
  std::map<unsigned long, void*> user_data_;
};

}  // namespace stage

#endif
