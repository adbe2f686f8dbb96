// The global services the stand-in host offers modules: "LW Item Info 3", "LW Bone Info 3",
// "LWXPanel" and "Instance Update", found through global_lookup, and one of its own that the
// animation program lacks: "Tarsel Diagnostics 1", through which the module reports each solve.
//
// The services are tables of plain C function pointers without a context argument, so a call
// from the module cannot say which host it is meant for. The host that is calling into a module
// therefore names itself in one thread-local pointer for the length of that call (Current_host).
// That pointer is the only global state of the stand-in host; it is per thread, so hosts on
// different threads never see each other, and it is restored on leaving, so calls may nest. The
// services ask the host only what Service_host offers.
#ifndef TARSEL_STAGE_SERVICES_H
#define TARSEL_STAGE_SERVICES_H

#include "sdk/lwhandler.h"
#include "sdk/lwmodule.h"
#include "sdk/lwmotion.h"
#include "sdk/lwrender.h"
#include "sdk/lwxpanel.h"
#include "stage/service_host.h"

namespace stage {

// Makes a host current on this thread while it calls into a module.
class Current_host {
 public:
  explicit Current_host(Service_host& host);
  ~Current_host();
  Current_host(const Current_host&) = delete;
  Current_host& operator=(const Current_host&) = delete;

  static Service_host* get();  // null outside every host call

 private:
  Service_host* previous_;
};

// The GlobalFunc handed to every activation: the service of that name, or null when the current
// host has none or withholds it (or no host is current).
void* global_lookup(const char* service_name, int use_mode);

// The motion access callbacks of the item the current host is evaluating.
void access_get_param(LWItemParam param, LWTime time, LWDVector out);
void access_set_param(LWItemParam param, const LWDVector value);

}  // namespace stage

#endif
