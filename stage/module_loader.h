// Loading a plug-in module file: the exported descriptor, its checks, startup and shutdown, and
// activation of its servers.
#ifndef TARSEL_STAGE_MODULE_LOADER_H
#define TARSEL_STAGE_MODULE_LOADER_H

#include <string>
#include <vector>

#include "sdk/lwmodule.h"

namespace stage {

struct Server_name {
  std::string class_name;
  std::string name;
};

// Makes a module linked into the program loadable under a name: Module(name) then takes this
// descriptor instead of opening a file. It is how a build without dynamic loading (the
// WebAssembly one) hands the host the descriptor of the module linked into it. Call it before
// loading; a name given again replaces the earlier descriptor.
void register_linked_module(const std::string& name, const ModuleDescriptor* descriptor);

// A loaded module, from dlopen (or a linked module's descriptor) and startup to shutdown and
// dlclose. Construct and destroy it while
// a Host is current (services.h): the module may ask for services from startup on.
class Module {
 public:
  // Loads the file (or takes the linked module registered under that name), checks the descriptor
  // (sync word, system version, machine) and calls startup. Throws Error naming the file when it
  // cannot be loaded, exports no descriptor, fails a check or its startup returns null.
  explicit Module(const std::string& path);
  ~Module();  // shutdown, then unload
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  const std::string& path() const { return path_; }
  void* server_data() const { return server_data_; }
  std::vector<Server_name> servers() const;
  // The server row of a class and name, or null.
  const ServerRecord* find_server(const std::string& class_name, const std::string& name) const;
  // Calls the server's activation with the host's global lookup and the module data; returns
  // its AFUNC_ code.
  int activate(const ServerRecord& server, int version, void* local) const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  const ModuleDescriptor* descriptor_ = nullptr;
  void* server_data_ = nullptr;
};

}  // namespace stage

#endif
