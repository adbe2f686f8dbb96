#include "stage/module_loader.h"

#ifndef TARSEL_NO_DLOPEN
#include <dlfcn.h>
#endif

#include <cstdio>
#include <map>

#include "stage/error.h"
#include "stage/services.h"

namespace stage {

namespace {

// A server table has no length; this bounds the walk of one whose end row is missing.
constexpr int max_servers = 4096;

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::map<std::string, const ModuleDescriptor*>& linked_modules() {
  static std::map<std::string, const ModuleDescriptor*> modules;
  return modules;
}

void unload(void* handle) {
#ifndef TARSEL_NO_DLOPEN
  if (handle) dlclose(handle);
#else
  (void)handle;
#endif
}

}  // namespace

void register_linked_module(const std::string& name, const ModuleDescriptor* descriptor) {
  linked_modules()[name] = descriptor;
}

Module::Module(const std::string& path) : path_(path) {
  const auto linked = linked_modules().find(path);
  if (linked != linked_modules().end()) {
    descriptor_ = linked->second;
  } else {
#ifdef TARSEL_NO_DLOPEN
    throw Error(path + ": cannot load module: this build loads only the modules linked into it");
#else
    dlerror();
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
      const char* why = dlerror();
      throw Error(path + ": cannot load module: " + (why ? why : "unknown reason"));
    }
    descriptor_ = static_cast<const ModuleDescriptor*>(dlsym(handle_, MOD_DESCRIPTOR_SYMBOL));
#endif
  }
  std::string problem;
  if (!descriptor_) {
    problem = "not a module: it exports no " MOD_DESCRIPTOR_SYMBOL;
  } else if (descriptor_->sysSync != MOD_SYSSYNC) {
    problem = "bad sync word " + hex(descriptor_->sysSync) + " (expected " + hex(MOD_SYSSYNC) + ")";
  } else if (descriptor_->sysVersion != MOD_SYSVER) {
    problem = "module system version " + std::to_string(descriptor_->sysVersion) + " (expected " +
              std::to_string(MOD_SYSVER) + ")";
  } else if (descriptor_->sysMachine != MOD_MACHINE) {
    problem = "built for machine " + hex(descriptor_->sysMachine) + " (expected " +
              hex(MOD_MACHINE) + ")";
  } else if (!descriptor_->startup) {
    problem = "the descriptor has no startup";
  } else if (!(server_data_ = descriptor_->startup())) {
    problem = "startup failed";
  }
  if (!problem.empty()) {
    unload(handle_);
    throw Error(path + ": " + problem);
  }
}

Module::~Module() {
  if (descriptor_->shutdown) descriptor_->shutdown(server_data_);
  unload(handle_);
}

std::vector<Server_name> Module::servers() const {
  std::vector<Server_name> names;
  const ServerRecord* row = descriptor_->serverDefs;
  for (int i = 0; row && i < max_servers && row[i].className; ++i) {
    names.push_back({row[i].className, row[i].name ? row[i].name : ""});
  }
  return names;
}

const ServerRecord* Module::find_server(const std::string& class_name,
                                        const std::string& name) const {
  const ServerRecord* row = descriptor_->serverDefs;
  for (int i = 0; row && i < max_servers && row[i].className; ++i) {
    if (row[i].name && class_name == row[i].className && name == row[i].name) return &row[i];
  }
  return nullptr;
}

int Module::activate(const ServerRecord& server, int version, void* local) const {
  if (!server.activate) return AFUNC_BADGLOBAL;
  return server.activate(version, &global_lookup, local, server_data_);
}

}  // namespace stage
