#include "solver/item_world.h"

#include "solver/input_record.h"
#include "solver/scene_services.h"

using vk_3dla::m44;
using vk_3dla::vec3;

namespace {

using tarsel::item_param;

// Doubles a memo keeps per level: scaling, rotation, position, pivot rotation, parent's pivot.
constexpr std::size_t inputs_per_level = 15;

vec3 pivot_of(LWItemID parent, LWTime time) {
  return parent != LWITEM_NULL ? item_param(parent, LWIP_PIVOT, time) : vec3(0.0);
}

// Hands visit(s, r, p, pivot rotation, parent's pivot) the values of the local transform of every
// parent of `item`, from `parent` (the item's own) up to the top. A host whose parent links loop
// (a broken one) is caught by a marker moved at powers of two along the walk (Brent's cycle test).
template <class Visit>
void walk_parents(LWItemID item, LWItemID parent, LWTime time, Visit&& visit) {
  const LWItemInfo& info = *tarsel::item_info;
  LWItemID marker = item;
  for (unsigned long long step = 1, next_mark = 1; parent != LWITEM_NULL && parent != marker;
       ++step) {
    const LWItemID up = info.parent(parent);
    visit(item_param(parent, LWIP_SCALING, time), item_param(parent, LWIP_ROTATION, time),
          item_param(parent, LWIP_POSITION, time), item_param(parent, LWIP_PIVOT_ROT, time),
          pivot_of(up, time));
    if (step == next_mark) {
      marker = parent;
      next_mark *= 2;
    }
    parent = up;
  }
}

// The same for the item itself (with s, r, p given) and then its parents.
template <class Visit>
void walk_up(const vec3& s, const vec3& r, const vec3& p, LWItemID item, LWTime time,
             Visit&& visit) {
  const LWItemID parent = tarsel::item_info->parent(item);
  visit(s, r, p, item_param(item, LWIP_PIVOT_ROT, time), pivot_of(parent, time));
  walk_parents(item, parent, time, visit);
}

// L(item) * L(parent) * L(grandparent) * ...: one level's transform is diag(s) * R(r) * R(pivot
// rotation), translated by its position minus the parent's pivot.
struct Composer {
  m44 world{1};
  bool first = true;
  void operator()(const vec3& s, const vec3& r, const vec3& p, const vec3& q, const vec3& pivot) {
    const m44 local = vk_3dla::item_matrix(s, r, p, q, pivot);
    world = first ? local : world * local;
    first = false;
  }
};

}  // namespace

m44 item_world(LWItemID item, LWTime time) {
  if (item == LWITEM_NULL) return m44(1.0);
  Composer compose;
  walk_up(item_param(item, LWIP_SCALING, time), item_param(item, LWIP_ROTATION, time),
          item_param(item, LWIP_POSITION, time), item, time, compose);
  return compose.world;
}

vec3 item_world_position(LWItemID item, LWTime time) {
  if (item == LWITEM_NULL) return vec3(0.0);
  // The last row of item_world's product, carried as that product carries it: the item's own row
  // is its position less the parent's pivot (weight 1), and each parent's transform multiplies it.
  const LWItemID parent = tarsel::item_info->parent(item);
  vk_3dla::vec4 row(item_param(item, LWIP_POSITION, time) - pivot_of(parent, time), 1.0);
  walk_parents(item, parent, time,
               [&](const vec3& s, const vec3& r, const vec3& p, const vec3& q, const vec3& pivot) {
                 row = row * vk_3dla::item_matrix(s, r, p, q, pivot);
               });
  return vec3(row.x, row.y, row.z);
}

const m44& item_world_from(World_memo* memo, const vec3& s, const vec3& r, const vec3& p,
                           LWItemID item, LWTime time) {
  Input_writer in{&memo->inputs};
  walk_up(s, r, p, item, time,
          [&](const vec3& ls, const vec3& lr, const vec3& lp, const vec3& q, const vec3& pivot) {
            in.put(ls);
            in.put(lr);
            in.put(lp);
            in.put(q);
            in.put(pivot);
          });
  if (in.finish() || !memo->known) {
    // Composed from the record just read, exactly as item_world composes the host's values.
    Composer compose;
    Input_reader values{memo->inputs.data()};
    for (std::size_t level = 0; level * inputs_per_level < memo->inputs.size(); ++level) {
      const vec3 ls = values.get3(), lr = values.get3(), lp = values.get3(), q = values.get3();
      compose(ls, lr, lp, q, values.get3());
    }
    memo->world = compose.world;
    memo->known = true;
    memo->inverse_known = false;
  }
  return memo->world;
}

const m44& item_world(World_memo* memo, LWItemID item, LWTime time) {
  if (item == LWITEM_NULL) {
    memo->inputs.clear();
    memo->world = m44(1.0);
    memo->known = true;
    memo->inverse_known = false;
    return memo->world;
  }
  return item_world_from(memo, item_param(item, LWIP_SCALING, time),
                         item_param(item, LWIP_ROTATION, time),
                         item_param(item, LWIP_POSITION, time), item, time);
}

const m44& world_inverse(World_memo* memo) {
  if (!memo->inverse_known) {
    memo->inverse = vk_3dla::inverse(memo->world);  // a singular transform stands in for its own
    memo->inverse_known = true;
  }
  return memo->inverse;
}
