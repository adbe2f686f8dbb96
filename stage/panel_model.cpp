#include "stage/panel_model.h"

#include <climits>
#include <cmath>
#include <sstream>

#include "stage/error.h"
#include "stage/services.h"

namespace stage {

namespace {

// Bounds on tables whose end row a module might forget, and on pop-up lengths.
constexpr int max_rows = 4096;
constexpr int max_entries = 1 << 20;

Control_kind kind_of(const std::string& control_class, const std::string& data_type) {
  if (control_class == "iPopChoice" || control_class == "iChoice") return Control_kind::popup;
  if (control_class == "iBoolean") return Control_kind::boolean;
  if (data_type == "integer") return Control_kind::integer;
  if (data_type == "float" || data_type == "distance" || data_type == "percent" ||
      data_type == "angle")
    return Control_kind::number;
  return Control_kind::other;
}

bool is_integer_type(const std::string& t) { return t == "integer"; }
bool is_float_type(const std::string& t) {
  return t == "float" || t == "distance" || t == "percent" || t == "angle";
}

}  // namespace

std::string format_value(const Control_value& value) {
  if (!value.has_value) return "-";
  std::ostringstream out;
  switch (value.kind) {
    case Control_kind::popup:
      out << value.integer << " (" << value.entry << ")";
      break;
    case Control_kind::boolean:
      out << (value.integer ? "on" : "off");
      break;
    case Control_kind::number:
      out << value.number;
      break;
    default:
      out << value.integer;
      break;
  }
  return out.str();
}

Panel::Panel(Service_host& host, int type, const LWXPanelControl* controls)
    : host_(&host), type_(type) {
  for (int i = 0; controls && i < max_rows && controls[i].cid != 0; ++i) {
    Panel_control c;
    c.id = controls[i].cid;
    c.label = controls[i].label ? controls[i].label : "";
    c.control_class = controls[i].ctrlclass ? controls[i].ctrlclass : "";
    controls_.push_back(std::move(c));
  }
}

void Panel::describe(const LWXPanelDataDesc* data, LWXPanelGetFunc* get, LWXPanelSetFunc* set) {
  get_ = get;
  set_ = set;
  for (int i = 0; data && i < max_rows && data[i].vid != 0; ++i) {
    for (Panel_control& c : controls_) {
      if (c.id == data[i].vid) c.data_type = data[i].datatype ? data[i].datatype : "";
    }
  }
}

void Panel::hint(unsigned long, const LWXPanelHint* hints) {
  // Each hint record names the control it is for (0: the panel itself).
  for (int i = 0; hints && i < max_rows && hints[i].tag != XPTAG_END; ++i) {
    const LWXPanelHint& h = hints[i];
    if (h.tag == XPTAG_LABEL) {
      if (h.id == 0) {
        label_ = h.text ? h.text : "";
      } else {
        for (Panel_control& c : controls_) {
          if (c.id == h.id) c.label = h.text ? h.text : "";
        }
      }
    } else if (h.tag == XPTAG_POPFUNC) {
      for (Panel_control& c : controls_) {
        if (c.id == h.id) {
          c.pop_count = h.count;
          c.pop_name = h.name;
        }
      }
    }
  }
}

const Panel_control* Panel::control(unsigned long id) const {
  for (const Panel_control& c : controls_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const Panel_control* Panel::control(const std::string& label) const {
  for (const Panel_control& c : controls_) {
    if (c.label == label) return &c;
  }
  return nullptr;
}

void* Panel::data(unsigned long id) const {
  auto it = user_data_.find(id);
  if (it == user_data_.end()) it = user_data_.find(0);
  return it == user_data_.end() ? nullptr : it->second;
}

Control_value Panel::read(const Panel_control& control) {
  Control_value v;
  v.id = control.id;
  v.label = control.label;
  v.kind = kind_of(control.control_class, control.data_type);
  if (!get_) return v;
  Current_host guard(*host_);
  // The address is valid only until the next call into the module: copy the value at once.
  const void* p = get_(instance_, control.id);
  if (!p) return v;
  if (is_integer_type(control.data_type)) {
    v.integer = *static_cast<const int*>(p);
    v.number = v.integer;
  } else if (is_float_type(control.data_type)) {
    v.number = *static_cast<const double*>(p);
  } else {
    return v;
  }
  v.has_value = true;
  if (v.kind == Control_kind::popup && control.pop_count && control.pop_name) {
    void* ud = data(control.id);
    const int count = control.pop_count(ud);
    if (v.integer >= 0 && v.integer < count) {
      const char* name = control.pop_name(ud, v.integer);
      v.entry = name ? name : "";
    }
  }
  return v;
}

std::vector<Control_value> Panel::values() {
  std::vector<Control_value> out;
  out.reserve(controls_.size());
  for (const Panel_control& c : controls_) out.push_back(read(c));
  return out;
}

Control_value Panel::value(unsigned long id) {
  const Panel_control* c = control(id);
  if (!c) throw Error("panel \"" + label_ + "\" has no control " + std::to_string(id));
  return read(*c);
}

std::vector<std::string> Panel::entries(unsigned long id) {
  const Panel_control* c = control(id);
  if (!c || !c->pop_count || !c->pop_name)
    throw Error("panel \"" + label_ + "\": control " + std::to_string(id) + " is no pop-up");
  Current_host guard(*host_);
  void* ud = data(id);
  const int count = c->pop_count(ud);
  if (count < 0 || count > max_entries)
    throw Error("panel \"" + label_ + "\": pop-up \"" + c->label + "\" reports " +
                std::to_string(count) + " entries");
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const char* name = c->pop_name(ud, i);
    names.push_back(name ? name : "");
  }
  return names;
}

int Panel::set(unsigned long id, double value) {
  const Panel_control* c = control(id);
  const std::string where = "panel \"" + label_ + "\"";
  if (!c) throw Error(where + " has no control " + std::to_string(id));
  if (!set_) throw Error(where + " has no set callback");
  if (!std::isfinite(value)) throw Error(where + ": \"" + c->label + "\" needs a finite value");
  Current_host guard(*host_);
  if (is_integer_type(c->data_type)) {
    if (value != std::floor(value) || value < INT_MIN || value > INT_MAX)
      throw Error(where + ": \"" + c->label + "\" takes a whole number");
    int v = static_cast<int>(value);
    return set_(instance_, id, &v);
  }
  if (is_float_type(c->data_type)) {
    double v = value;
    return set_(instance_, id, &v);
  }
  throw Error(where + ": \"" + c->label + "\" has data type \"" + c->data_type +
              "\", which cannot be set");
}

int Panel::choose(unsigned long id, const std::string& entry) {
  const std::vector<std::string> names = entries(id);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == entry) return set(id, static_cast<double>(i));
  }
  throw Error("panel \"" + label_ + "\": pop-up \"" + control(id)->label + "\" has no entry \"" +
              entry + "\"");
}

}  // namespace stage
