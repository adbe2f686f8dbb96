// What the global services (services.h) ask of the host that is calling into a module. The
// stand-in host implements it; the services reach it through this interface alone, so they need
// nothing of the host's own make-up.
#ifndef TARSEL_STAGE_SERVICE_HOST_H
#define TARSEL_STAGE_SERVICE_HOST_H

#include <string>

#include "sdk/lwmotion.h"
#include "sdk/lwxpanel.h"
#include "sdk/tarsel_diagnostics.h"
#include "stage/scene.h"

namespace stage {

class Panel;

class Service_host {
 public:
  // "LW Item Info 3" and "LW Bone Info 3" read the scene; item_param reads channels as evaluated.
  virtual const Scene& scene() const = 0;
  virtual Vec3 param(LWItemID item, LWItemParam param, double time) const = 0;
  // Whether global_lookup may hand out the service of that name.
  virtual bool offers_service(const std::string& name) const = 0;
  // "LWXPanel": panels are made, found and destroyed by the host that keeps them.
  virtual LWXPanelID create_panel(int type, const LWXPanelControl* controls) = 0;
  virtual Panel* find_panel(LWXPanelID panel) = 0;
  virtual void destroy_panel(LWXPanelID panel) = 0;
  // "Instance Update".
  virtual int instance_update(const char* class_name, LWInstance instance) = 0;
  // "Tarsel Diagnostics 1".
  virtual void add_chain_report(const TarselChainReport& report) = 0;
  // The motion access callbacks of the item being evaluated.
  virtual void access_get(LWItemParam param, LWTime time, double out[3]) const = 0;
  virtual void access_set(LWItemParam param, const double value[3]) = 0;

 protected:
  ~Service_host() = default;  // not owned through this interface
};

}  // namespace stage

#endif
