#include "stage/host.h"

#include <algorithm>

#include "stage/error.h"
#include "stage/services.h"

namespace stage {

namespace {

// A list of items a module returns has no length; this bounds the walk of an unterminated one.
constexpr std::size_t max_used_items = 1 << 16;

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

Host::Host() = default;

Host::~Host() {
  Current_host guard(*this);
  destroy_instances(scene_);
  panels_.clear();
  motion_servers_.clear();
  while (!modules_.empty()) modules_.pop_back();  // unload in reverse order of loading
}

Module& Host::load_module(const std::string& path) {
  Current_host guard(*this);
  modules_.push_back(std::make_unique<Module>(path));
  return *modules_.back();
}

int Host::activate(const std::string& class_name, const std::string& name, void* local,
                   int version) {
  for (const std::unique_ptr<Module>& module : modules_) {
    if (const ServerRecord* record = module->find_server(class_name, name)) {
      Current_host guard(*this);
      return module->activate(*record, version, local);
    }
  }
  throw Error("no loaded module offers the " + class_name + " server " + quoted(name));
}

const Motion_server* Host::motion_server(const std::string& name) {
  for (const std::unique_ptr<Motion_server>& server : motion_servers_) {
    if (server->name == name) return server.get();
  }
  for (const std::unique_ptr<Module>& module : modules_) {
    const ServerRecord* record = module->find_server(LWITEMMOTION_HCLASS, name);
    if (!record) continue;
    auto server = std::make_unique<Motion_server>();
    server->module = module.get();
    server->name = name;
    server->inst.priv = server.get();
    server->table.inst = &server->inst;
    server->table.item = &server->item;
    {
      Current_host guard(*this);
      server->activation = module->activate(*record, LWITEMMOTION_VERSION, &server->table);
    }
    motion_servers_.push_back(std::move(server));
    return motion_servers_.back().get();
  }
  return nullptr;
}

void Host::clear_scene() {
  destroy_instances(scene_);
  scene_ = Scene();
  evaluation_ = Evaluation();
  file_ids_.clear();
}

void Host::destroy_instance(Attached_handler& handler) {
  if (!handler.instance) return;
  const LWInstance inst = handler.instance;
  handler.instance = nullptr;
  panels_.erase(
      std::remove_if(panels_.begin(), panels_.end(),
                     [&](const std::unique_ptr<Panel>& p) { return p->instance() == inst; }),
      panels_.end());
  if (handler.motion && handler.motion->inst.destroy) {
    Current_host guard(*this);
    handler.motion->inst.destroy(inst);
  }
}

void Host::destroy_instances(Scene& scene) {
  for (std::size_t i = 0; i < scene.size(); ++i) {
    for (Attached_handler& handler : scene.item(i).handlers) destroy_instance(handler);
  }
}

LWInstance Host::attach_handler(LWItemID id, const std::string& server_name) {
  Item& item = scene_.at(id);
  const Motion_server* server = motion_server(server_name);
  if (!server)
    throw Error("no loaded module offers the " LWITEMMOTION_HCLASS " server " +
                quoted(server_name));
  if (!server->active())
    throw Error(LWITEMMOTION_HCLASS " server " + quoted(server_name) +
                ": activation failed with code " + std::to_string(server->activation));
  Attached_handler handler;
  handler.server = server_name;
  handler.motion = server;
  if (server->inst.create) {
    Current_host guard(*this);
    LWError error = nullptr;
    handler.instance = server->inst.create(server->inst.priv, id, &error);
    if (!handler.instance)
      throw Error(quoted(server_name) + " could not make an instance for " + quoted(item.name) +
                  (error ? std::string(": ") + error : std::string()));
  }
  item.handlers.push_back(std::move(handler));
  return item.handlers.back().instance;
}

LWInstance Host::instance(LWItemID id, const std::string& server, int index) const {
  const Item* item = scene_.find(id);
  if (!item) return nullptr;
  for (const Attached_handler& handler : item->handlers) {
    if (handler.server == server && index-- == 0) return handler.instance;
  }
  return nullptr;
}

std::string Host::describe_handler(LWItemID id, std::size_t index) {
  const Item& item = scene_.at(id);
  if (index >= item.handlers.size()) return "";
  const Attached_handler& handler = item.handlers[index];
  if (!handler.motion || !handler.motion->inst.descln) return "";
  Current_host guard(*this);
  const char* line = handler.motion->inst.descln(handler.instance);
  return line ? line : "";
}

std::vector<LWItemID> Host::used_items(LWItemID id, std::size_t index) {
  const Item& item = scene_.at(id);
  std::vector<LWItemID> out;
  if (index >= item.handlers.size()) return out;
  const Attached_handler& handler = item.handlers[index];
  if (!handler.motion || !handler.motion->item.useItems) return out;
  Current_host guard(*this);
  const LWItemID* list = handler.motion->item.useItems(handler.instance);
  for (std::size_t i = 0; list && i < max_used_items && list[i] != LWITEM_NULL; ++i) {
    out.push_back(list[i]);
  }
  return out;
}

Panel& Host::open_panel(LWItemID id, const std::string& server) {
  const LWInstance inst = instance(id, server);
  if (!inst)
    throw Error("item " + quoted(scene_.at(id).name) + " has no " + quoted(server) + " instance");
  LWInterface iface{inst, nullptr, nullptr, nullptr};
  const int code = activate(LWITEMMOTION_ICLASS, server, &iface, LWINTERFACE_VERSION);
  if (code != AFUNC_OK)
    throw Error(LWITEMMOTION_ICLASS " server " + quoted(server) + ": activation failed with code " +
                std::to_string(code));
  Panel* panel = find_panel(iface.panel);
  if (!panel) throw Error(LWITEMMOTION_ICLASS " server " + quoted(server) + " built no panel");
  return *panel;
}

LWXPanelID Host::create_panel(int type, const LWXPanelControl* controls) {
  panels_.push_back(std::make_unique<Panel>(*this, type, controls));
  return reinterpret_cast<LWXPanelID>(panels_.back().get());
}

Panel* Host::find_panel(LWXPanelID id) {
  for (const std::unique_ptr<Panel>& panel : panels_) {
    if (reinterpret_cast<LWXPanelID>(panel.get()) == id) return panel.get();
  }
  return nullptr;
}

void Host::destroy_panel(LWXPanelID id) {
  panels_.erase(std::remove_if(panels_.begin(), panels_.end(),
                               [&](const std::unique_ptr<Panel>& p) {
                                 return reinterpret_cast<LWXPanelID>(p.get()) == id;
                               }),
                panels_.end());
}

int Host::instance_update(const char* class_name, LWInstance inst) {
  notifications_.push_back({class_name ? class_name : "", inst});
  return 1;
}

}  // namespace stage
