// The stand-in host: loads plug-in modules, holds a scene, offers the global services, evaluates
// times, and keeps the option panels modules build. A runner and every end-to-end test drive the
// module through it, as the real host program would. A host is used from one thread at a time,
// like the host program's evaluation thread; hosts on different threads are independent.
#ifndef TARSEL_STAGE_HOST_H
#define TARSEL_STAGE_HOST_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sdk/lwmotion.h"
#include "sdk/tarsel_diagnostics.h"
#include "stage/module_loader.h"
#include "stage/panel_model.h"
#include "stage/scene.h"
#include "stage/service_host.h"
#include "stage/transform.h"

namespace stage {

struct Scene_record;
struct Handler_record;

// An "ItemMotionHandler" server as activated by the host: the tables its activation filled.
struct Motion_server {
  const Module* module = nullptr;
  std::string name;
  int activation = AFUNC_OK;  // what the activation returned
  LWInstanceFuncs inst{};
  LWItemFuncs item{};
  LWItemMotionHandler table{};
  bool active() const { return activation == AFUNC_OK; }
};

// A call of the "Instance Update" service.
struct Notification {
  std::string class_name;
  LWInstance instance;
};

class Host final : public Service_host {
 public:
  Host();
  ~Host();  // destroys every instance and panel, then shuts down and unloads the modules
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // --- Modules -----------------------------------------------------------------------------
  // Loads a module file (see Module); later modules are searched after earlier ones.
  Module& load_module(const std::string& path);
  const std::vector<std::unique_ptr<Module>>& modules() const { return modules_; }
  // Activates a server of a loaded module with the host's global lookup; returns the AFUNC_
  // code. Throws Error when no loaded module offers the server.
  int activate(const std::string& class_name, const std::string& name, void* local,
               int version = LWITEMMOTION_VERSION);
  // The motion handler server of that name, activated on first use (the result is kept, also a
  // failed one); null when no loaded module offers it.
  const Motion_server* motion_server(const std::string& name);

  // --- Services ----------------------------------------------------------------------------
  // A withheld service is answered with null, as if the host had none by that name.
  void withhold_service(const std::string& name) { withheld_.insert(name); }
  void offer_service(const std::string& name) { withheld_.erase(name); }
  bool offers_service(const std::string& name) const override { return withheld_.count(name) == 0; }

  // --- Scene -------------------------------------------------------------------------------
  Scene& scene() { return scene_; }
  const Scene& scene() const override { return scene_; }
  // Destroys every instance and panel and starts an empty scene.
  void clear_scene();
  // Attaches a motion handler after the item's others and creates its instance. Throws Error
  // when no loaded module offers the server, its activation failed or create returned null.
  LWInstance attach_handler(LWItemID item, const std::string& server);
  // The instance of the index-th handler (from 0) of an item with that server name, or null.
  LWInstance instance(LWItemID item, const std::string& server, int index = 0) const;
  // The handler's one-line description (descln), or "" when it has none.
  std::string describe_handler(LWItemID item, std::size_t handler);
  // The items the handler depends on (useItems), without the terminating none.
  std::vector<LWItemID> used_items(LWItemID item, std::size_t handler);

  // --- Evaluation --------------------------------------------------------------------------
  // Evaluates every item at a time (seconds): parents before children; for each item its
  // channels from its keys, then its active motion handlers in order, then, for an item that
  // matches its goal's orientation, the turn to it.
  void evaluate(double time);
  void evaluate_frame(int frame) { evaluate(frame / scene_.fps); }
  double evaluated_time() const { return evaluation_.time; }
  // An item's channel triple at a time: as evaluated when the last evaluation was at that time
  // and has finished the item, else from its keys. Zeros for an unknown item or parameter.
  Vec3 param(LWItemID item, LWItemParam param, double time) const override;
  // Whether a motion handler set the item's channel (ch_position, ...) in the last evaluation.
  bool set_by_handler(LWItemID item, int channel) const;
  // World transform from the item's channels at the time, composed through its parents.
  Mat4 world(LWItemID item, double time) const;
  Vec3 world_position(LWItemID item, double time) const { return translation(world(item, time)); }
  // World position of a bone's tip: its rest length along its +Z, from its pivot.
  Vec3 bone_tip(LWItemID bone, double time) const;

  // --- Diagnostics ("Tarsel Diagnostics 1", offered unless withheld) -------------------------
  // The chain reports modules handed over during the last evaluation, in the order given. Of the
  // per-joint entries, those past joint_count are kept only as far as an earlier report in the
  // same place used them: a report is copied as far as it is read, not its whole fixed length.
  struct Chain_reports {
    const TarselChainReport* first;
    std::size_t count;
    const TarselChainReport* begin() const { return first; }
    const TarselChainReport* end() const { return first + count; }
    std::size_t size() const { return count; }
    const TarselChainReport& operator[](std::size_t i) const { return first[i]; }
  };
  Chain_reports chain_reports() const { return {chain_reports_.data(), chain_report_count_}; }
  void add_chain_report(const TarselChainReport& report) override;
  // Called after each report is stored, e.g. to note what the module had written by then.
  void set_chain_report_hook(std::function<void()> hook) { chain_report_hook_ = std::move(hook); }

  // --- Panels ------------------------------------------------------------------------------
  // Activates the "ItemMotionInterface" server of that name for the item's instance of the
  // motion handler of the same name, and returns the panel it built. Throws Error when there is
  // no such instance or server, or the activation fails or builds no panel.
  Panel& open_panel(LWItemID item, const std::string& server);
  const std::vector<std::unique_ptr<Panel>>& panels() const { return panels_; }
  const std::vector<Notification>& notifications() const { return notifications_; }

  // --- Scene files (scene_file.h for the format) --------------------------------------------
  // Replaces the scene with the file's. Items get fresh identifiers; instances are created,
  // loaded from their stored data, then told the old -> new pairs of the identifiers that data
  // holds. Throws Error
  // naming the file, the place in it and the fault; the current scene is kept then.
  void load_scene(const std::string& path);
  // Writes the scene to a file through a temporary file, so a failed save leaves the old file.
  void save_scene(const std::string& path);
  // The scene as a record with the host's identifiers (the module's view).
  Scene_record scene_record();
  // The scene as its file holds it: the identifiers and item order of the file it was loaded
  // from (handler data included, remapped through each instance's changeID); items the file did
  // not have come last, with identifiers it does not use. What save_scene writes.
  Scene_record file_record();
  // The identifier the loaded file gave an item; 0 for an item the file did not have.
  uint32_t file_id(LWItemID item) const {
    for (const auto& pair : file_ids_)
      if (pair.first == item) return pair.second;
    return 0;
  }
  // The index-th handler of an item as a scene file holds it, its instance's data saved now.
  Handler_record handler_record(LWItemID item, std::size_t handler);
  void load_scene_record(const Scene_record& record, const std::string& file_name);
  // What loading could not honour without failing (e.g. a handler whose server no loaded
  // module offers; it is kept with its data and stays inactive).
  const std::vector<std::string>& warnings() const { return warnings_; }

  // --- Answers to the module's service calls (services.cpp) ------------------------------------
  void access_get(LWItemParam param, LWTime time, double out[3]) const override;
  void access_set(LWItemParam param, const double value[3]) override;
  LWXPanelID create_panel(int type, const LWXPanelControl* controls) override;
  Panel* find_panel(LWXPanelID panel) override;
  void destroy_panel(LWXPanelID panel) override;
  int instance_update(const char* class_name, LWInstance instance) override;

 private:
  // An item's record holds for the evaluation whose stamp it carries: nothing is cleared between
  // evaluations, so a scene of many items is not written over once more before each one. The
  // record fits two cache lines.
  struct Evaluated_item {
    std::uint32_t done = 0;  // the evaluation that finished the item
    // Bit c: a handler set channel c, in the evaluation that finished the item (or is on it).
    std::uint8_t handler_set = 0;
    std::array<Vec3, ch_count> values;
  };
  struct Evaluation {
    bool valid = false;
    double time = 0;
    std::uint32_t stamp = 0;  // counts evaluations, from 1 (all records reset on wrapping)
    std::vector<Evaluated_item> items;  // by scene index
    std::size_t current = Scene::npos;  // the item being evaluated
    // World transforms of finished items at the evaluation's time, composed once each, parents
    // first; they hold while the parent links are those of `links_version`. world_known[i] is the
    // stamp of the evaluation whose transform world[i] is.
    mutable std::vector<Mat4> world;
    mutable std::vector<std::uint32_t> world_known;
    mutable std::vector<std::size_t> walk;  // scratch: items whose transform is being composed
    std::size_t links_version = 0;
  };

  Mat4 local(std::size_t index, double time) const;
  // An item that matches its goal's orientation: its rotation set from the goal's world one.
  void turn_to_goal(std::size_t index);
  // Asks the memory for the records of the items a few places after position k of `order`.
  void prefetch_items(const std::vector<std::size_t>& order, std::size_t k) const;

  void destroy_instances(Scene& scene);
  void destroy_instance(Attached_handler& handler);

  std::vector<std::unique_ptr<Module>> modules_;  // destroyed last, in ~Host
  std::vector<std::unique_ptr<Motion_server>> motion_servers_;
  std::set<std::string> withheld_;
  Scene scene_;
  Evaluation evaluation_;
  std::vector<std::unique_ptr<Panel>> panels_;
  std::vector<Notification> notifications_;
  std::vector<std::string> warnings_;
  std::vector<TarselChainReport>
      chain_reports_;  // the first chain_report_count_ are this evaluation's
  std::size_t chain_report_count_ = 0;
  std::function<void()> chain_report_hook_;
  // The loaded file's identifiers of the host's items, and the items in file order.
  std::vector<std::pair<LWItemID, uint32_t>> file_ids_;
};

}  // namespace stage

#endif
