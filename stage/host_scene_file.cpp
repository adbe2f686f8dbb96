// The host's side of scene files: turning its scene and the handlers' instances into a record,
// and building a scene with instances from one.
#include <algorithm>
#include <map>
#include <set>

#include "sdk/lwio.h"
#include "stage/block_io.h"
#include "stage/error.h"
#include "stage/host.h"
#include "stage/scene_file.h"
#include "stage/services.h"

namespace stage {

namespace {

// The fields a scene and its record share, copied either way.
template <class From, class To>
void copy_scene_fields(const From& from, To& to) {
  to.description = from.description;
  to.fps = from.fps;
  to.frame_start = from.frame_start;
  to.frame_end = from.frame_end;
}

// The fields an item and its record share, copied either way (ids and handlers are mapped apart).
template <class From, class To>
void copy_item_fields(const From& from, To& to) {
  to.channels = from.channels;
  to.rest_position = from.rest_position;
  to.rest_rotation = from.rest_rotation;
  to.rest_length = from.rest_length;
  to.limits = from.limits;
}

}  // namespace

Scene_record Host::scene_record() {
  Scene_record record;
  copy_scene_fields(scene_, record);
  for (std::size_t i = 0; i < scene_.size(); ++i) {
    const Item& item = scene_.item(i);
    Item_record r;
    r.id = id_value(item.id);
    r.type = item.type;
    r.name = item.name;
    r.owner = id_value(item.owner);
    r.parent = id_value(item.parent);
    r.goal = id_value(item.goal);
    copy_item_fields(item, r);
    for (const Attached_handler& handler : item.handlers) {
      Handler_record h;
      h.server = handler.server;
      if (handler.motion && handler.motion->inst.save && handler.instance) {
        Block_writer writer(LWIO_ASCII);
        LWError error = nullptr;
        {
          Current_host guard(*this);
          error = handler.motion->inst.save(handler.instance, writer.state());
        }
        if (error)
          throw Error("handler \"" + handler.server + "\" of \"" + item.name +
                      "\" could not save: " + error);
        h.has_data = true;
        h.data = split_lines(writer.text());
      } else if (handler.has_kept_data) {
        h.has_data = true;
        h.data = handler.kept_data;
      }
      r.handlers.push_back(std::move(h));
    }
    record.items.push_back(std::move(r));
  }
  return record;
}

namespace {

// Tells every instance of the scene the identifier pairs (ended by two nones).
void change_ids(Host& host, Scene& scene, const std::vector<LWItemID>& pairs) {
  Current_host guard(host);
  for (std::size_t i = 0; i < scene.size(); ++i) {
    for (const Attached_handler& handler : scene.item(i).handlers) {
      if (handler.instance && handler.motion && handler.motion->item.changeID)
        handler.motion->item.changeID(handler.instance, pairs.data());
    }
  }
}

}  // namespace

Scene_record Host::file_record() {
  // Host identifier -> file identifier: the loaded file's, then unused ones for new items. The
  // host never hands out an identifier a loaded file uses, so the two sets stay apart.
  std::map<uint32_t, uint32_t> to_file;
  std::set<uint32_t> used;
  uint32_t next = 1;
  for (const auto& [id, file_id] : file_ids_) {
    if (scene_.find(id) == nullptr) continue;
    to_file[id_value(id)] = file_id;
    used.insert(file_id);
    next = std::max(next, file_id + 1);
  }
  for (std::size_t i = 0; i < scene_.size(); ++i) used.insert(id_value(scene_.item(i).id));
  for (std::size_t i = 0; i < scene_.size(); ++i) {
    const uint32_t id = id_value(scene_.item(i).id);
    if (to_file.count(id)) continue;
    while (used.count(next)) ++next;
    to_file[id] = next;
    used.insert(next++);
  }
  const auto file_id = [&](uint32_t id) { return id == 0 ? 0u : to_file.at(id); };

  std::vector<LWItemID> forth, back;
  for (const auto& [id, fid] : to_file) {
    if (id == fid) continue;
    forth.insert(forth.end(), {id_from_value(id), id_from_value(fid)});
    back.insert(back.end(), {id_from_value(fid), id_from_value(id)});
  }
  forth.insert(forth.end(), {LWITEM_NULL, LWITEM_NULL});
  back.insert(back.end(), {LWITEM_NULL, LWITEM_NULL});
  change_ids(*this, scene_, forth);
  Scene_record record;
  try {
    record = scene_record();
  } catch (...) {
    change_ids(*this, scene_, back);
    throw;
  }
  change_ids(*this, scene_, back);

  // File order: the file's items as it listed them, then new ones in scene order.
  std::map<uint32_t, std::size_t> rank;
  for (std::size_t i = 0; i < file_ids_.size(); ++i) rank[id_value(file_ids_[i].first)] = i;
  std::stable_sort(record.items.begin(), record.items.end(),
                   [&](const Item_record& a, const Item_record& b) {
                     const auto ra = rank.find(a.id), rb = rank.find(b.id);
                     const std::size_t ia = ra == rank.end() ? rank.size() : ra->second;
                     const std::size_t ib = rb == rank.end() ? rank.size() : rb->second;
                     return ia < ib;
                   });
  for (Item_record& r : record.items) {
    r.id = file_id(r.id);
    r.owner = file_id(r.owner);
    r.parent = file_id(r.parent);
    r.goal = file_id(r.goal);
  }
  return record;
}

void Host::save_scene(const std::string& path) { write_scene_file(path, file_record()); }

void Host::load_scene(const std::string& path) { load_scene_record(read_scene_file(path), path); }

void Host::load_scene_record(const Scene_record& record, const std::string& file_name) {
  // Build the new scene in place, so that modules asking the services while their instances are
  // created and loaded see it; the old scene comes back if anything fails.
  Scene old_scene = std::move(scene_);
  Evaluation old_evaluation = std::move(evaluation_);
  std::vector<std::string> old_warnings = std::move(warnings_);
  std::vector<std::pair<LWItemID, uint32_t>> old_file_ids = file_ids_;
  scene_ = Scene();
  evaluation_ = Evaluation();
  warnings_.clear();
  try {
    copy_scene_fields(record, scene_);
    std::vector<uint32_t> old_ids;
    for (const Item_record& r : record.items) old_ids.push_back(r.id);
    scene_.avoid_ids(old_ids);

    // Owners before their bones: objects, lights and cameras first, then bones, in file order.
    std::map<uint32_t, LWItemID> new_ids;
    const auto new_id = [&](uint32_t id) {
      const auto it = new_ids.find(id);
      if (it == new_ids.end()) throw Error(file_name + ": no item has id " + std::to_string(id));
      return it->second;
    };
    for (int pass = 0; pass < 2; ++pass) {
      for (const Item_record& r : record.items) {
        if ((r.type == Item_type::bone) != (pass == 1)) continue;
        new_ids[r.id] = scene_.add(r.type, r.name, r.owner ? new_id(r.owner) : LWITEM_NULL);
      }
    }
    const auto mapped = [&](uint32_t id) { return id ? new_id(id) : LWITEM_NULL; };
    for (const Item_record& r : record.items) {
      Item& item = scene_.at(new_id(r.id));
      if (r.parent) scene_.set_parent(item.id, mapped(r.parent));
      item.goal = mapped(r.goal);
      copy_item_fields(r, item);
    }

    for (std::size_t i = 0; i < record.items.size(); ++i) {
      const Item_record& r = record.items[i];
      const LWItemID id = new_id(r.id);
      for (std::size_t h = 0; h < r.handlers.size(); ++h) {
        const Handler_record& hr = r.handlers[h];
        const std::string where =
            file_name + ": /items/" + std::to_string(i) + "/handlers/" + std::to_string(h) + ": ";
        const Motion_server* server = motion_server(hr.server);
        if (!server || !server->active()) {
          // Keep the handler and its data so the scene saves back whole, but leave it inactive.
          warnings_.push_back(
              where + "handler \"" + hr.server + "\" is inactive: " +
              (server ? "its activation failed with code " + std::to_string(server->activation)
                      : std::string("no loaded module offers it")));
          Attached_handler kept;
          kept.server = hr.server;
          kept.kept_data = hr.data;
          kept.has_kept_data = hr.has_data;
          scene_.at(id).handlers.push_back(std::move(kept));
          continue;
        }
        LWInstance inst;
        try {
          inst = attach_handler(id, hr.server);
        } catch (const Error& e) {
          throw Error(where + e.what());
        }
        if (!hr.has_data) continue;
        if (!server->inst.load) {
          warnings_.push_back(where + "handler \"" + hr.server + "\" stores no data; ignored");
          continue;
        }
        Block_reader reader(LWIO_ASCII, join_lines(hr.data));
        LWError error = nullptr;
        {
          Current_host guard(*this);
          error = server->inst.load(inst, reader.state());
        }
        if (error) throw Error(where + "the handler refused its data: " + error);
        if (reader.failed()) throw Error(where + "the handler's data is malformed");
        for (const std::string& line : reader.unread_blocks()) {
          warnings_.push_back(where + "item \"" + r.name + "\": handler \"" + hr.server +
                              "\" never read its data line \"" + line +
                              "\" (a misspelled or unknown key?); correct or remove it");
        }
      }
    }

    // As a host does after loading a scene: every instance learns the old -> new identifiers.
    std::vector<LWItemID> pairs;
    file_ids_.clear();
    for (const Item_record& r : record.items) {
      pairs.push_back(id_from_value(r.id));
      pairs.push_back(new_id(r.id));
      file_ids_.emplace_back(new_id(r.id), r.id);
    }
    pairs.push_back(LWITEM_NULL);
    pairs.push_back(LWITEM_NULL);
    change_ids(*this, scene_, pairs);
  } catch (...) {
    destroy_instances(scene_);
    scene_ = std::move(old_scene);
    evaluation_ = std::move(old_evaluation);
    warnings_ = std::move(old_warnings);
    file_ids_ = std::move(old_file_ids);
    throw;
  }
  destroy_instances(old_scene);
}

}  // namespace stage
