// The host's side of scene files: turning its scene and the handlers' instances into a record,
// and building a scene with instances from one.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <map>
#include <set>
#include <system_error>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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
  to.meshes = from.meshes;
}

// The fields an item and its record share, copied either way (ids and handlers are mapped apart).
template <class From, class To>
void copy_item_fields(const From& from, To& to) {
  to.channels = from.channels;
  to.match_goal_orientation = from.match_goal_orientation;
  to.rest_position = from.rest_position;
  to.rest_rotation = from.rest_rotation;
  to.rest_length = from.rest_length;
  to.limits = from.limits;
}

// The distinct whole numbers of a handler's stored lines, as the 32-bit values a module reads
// them into (a negative one is the same bits as a large identifier), in order of appearance.
std::vector<uint32_t> numbers_in(const std::vector<std::string>& lines) {
  std::vector<uint32_t> out;
  std::unordered_set<uint32_t> seen;
  for (const std::string& line : lines) {
    std::size_t pos = 0;
    while (pos < line.size()) {
      while (pos < line.size() && std::isspace(static_cast<unsigned char>(line[pos]))) ++pos;
      const std::size_t start = pos;
      while (pos < line.size() && !std::isspace(static_cast<unsigned char>(line[pos]))) ++pos;
      const std::string word = line.substr(start, pos - start);
      long long value = 0;
      const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
      if (ec != std::errc() || end != word.data() + word.size() || value < INT32_MIN ||
          value > static_cast<long long>(UINT32_MAX))
        continue;
      const uint32_t bits = static_cast<uint32_t>(value);
      if (seen.insert(bits).second) out.push_back(bits);
    }
  }
  return out;
}

}  // namespace

Handler_record Host::handler_record(LWItemID id, std::size_t index) {
  const Item& item = scene_.at(id);
  const Attached_handler& handler = item.handlers.at(index);
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
  return h;
}

Scene_record Host::scene_record() {
  Scene_record record;
  copy_scene_fields(scene_, record);
  record.items.reserve(scene_.size());
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
    for (std::size_t h = 0; h < item.handlers.size(); ++h)
      r.handlers.push_back(handler_record(item.id, h));
    record.items.push_back(std::move(r));
  }
  return record;
}

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

  // Each instance is told the pairs of the identifiers its saved data holds (the numbers in it
  // that are item identifiers), then saves again, then is told the pairs back: a save costs what
  // the data holds, not the scene's size times the number of instances.
  Scene_record record = scene_record();
  struct Told {
    const Attached_handler* handler;
    std::vector<LWItemID> back;
  };
  std::vector<Told> told;
  const auto undo = [&] {
    Current_host guard(*this);
    for (const Told& t : told) t.handler->motion->item.changeID(t.handler->instance, t.back.data());
  };
  {
    Current_host guard(*this);
    std::vector<LWItemID> forth;
    for (std::size_t i = 0; i < scene_.size() && i < record.items.size(); ++i) {
      const Item& item = scene_.item(i);
      for (std::size_t h = 0; h < item.handlers.size() && h < record.items[i].handlers.size();
           ++h) {
        const Attached_handler& handler = item.handlers[h];
        if (!handler.instance || !handler.motion || !handler.motion->item.changeID) continue;
        forth.clear();
        Told t{&handler, {}};
        for (const uint32_t n : numbers_in(record.items[i].handlers[h].data)) {
          const auto found = to_file.find(n);
          if (found == to_file.end() || found->second == n) continue;
          forth.insert(forth.end(), {id_from_value(n), id_from_value(found->second)});
          t.back.insert(t.back.end(), {id_from_value(found->second), id_from_value(n)});
        }
        if (forth.empty()) continue;
        forth.insert(forth.end(), {LWITEM_NULL, LWITEM_NULL});
        t.back.insert(t.back.end(), {LWITEM_NULL, LWITEM_NULL});
        handler.motion->item.changeID(handler.instance, forth.data());
        told.push_back(std::move(t));
      }
    }
  }
  if (!told.empty()) {
    try {
      record = scene_record();
    } catch (...) {
      undo();
      throw;
    }
    undo();
  }

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
    std::unordered_map<uint32_t, LWItemID> new_ids;
    new_ids.reserve(record.items.size());
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
    std::vector<std::pair<LWItemID, LWItemID>> links;
    for (const Item_record& r : record.items) {
      Item& item = scene_.at(new_id(r.id));
      if (r.parent) links.emplace_back(item.id, mapped(r.parent));
      item.goal = mapped(r.goal);
      copy_item_fields(r, item);
    }
    scene_.set_parents(links);

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
        const std::string whose = "handler \"" + hr.server + "\" of \"" + r.name + "\"";
        if (error) throw Error(where + whose + " refused its data: " + error);
        if (reader.failed())
          throw Error(where + whose + ": its data is malformed: " + reader.failure());
        for (const std::string& line : reader.unread_blocks()) {
          warnings_.push_back(where + "item \"" + r.name + "\": handler \"" + hr.server +
                              "\" never read its data line \"" + line +
                              "\" (a misspelled or unknown key?); correct or remove it");
        }
      }
    }

    // As a host does after loading a scene: every instance learns the old -> new identifiers.
    // An instance can hold an old identifier only from its stored data (all else it learns from
    // this host, which hands out none of the file's identifiers), so it is told the pairs of the
    // numbers its data holds, looked up in the map: a list of its own size, not the scene's.
    Current_host guard(*this);
    std::vector<LWItemID> pairs;
    file_ids_.clear();
    for (const Item_record& r : record.items) {
      file_ids_.emplace_back(new_id(r.id), r.id);
      const Item& item = scene_.at(new_id(r.id));
      for (std::size_t h = 0; h < r.handlers.size() && h < item.handlers.size(); ++h) {
        const Attached_handler& handler = item.handlers[h];
        if (!handler.instance || !handler.motion || !handler.motion->item.changeID) continue;
        pairs.clear();
        for (const uint32_t old : numbers_in(r.handlers[h].data)) {
          const auto found = new_ids.find(old);
          if (found == new_ids.end()) continue;
          pairs.push_back(id_from_value(old));
          pairs.push_back(found->second);
        }
        pairs.push_back(LWITEM_NULL);
        pairs.push_back(LWITEM_NULL);
        handler.motion->item.changeID(handler.instance, pairs.data());
      }
    }
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
