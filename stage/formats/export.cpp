#include "stage/formats/export.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "stage/error.h"
#include "stage/formats/frame_math.h"

namespace formats {

namespace {

using nlohmann::ordered_json;

// The skeletons of a scene sampled over frames: the objects owning bones and their bones, each
// with its world transform on every frame in the right-handed frame.
struct Sampled {
  std::vector<LWItemID> items;           // owners first, then bones; parents before children
  std::vector<int> parent;               // index into items, -1 for a top node
  std::vector<std::vector<Mat4>> world;  // [frame][item]
  std::vector<Vec3> tip;                 // bones' tips on the first frame (objects: unused)
  double fps = 30;
  double size = 1;  // spread of the joints on the first frame
};

Sampled sample(stage::Host& host, int first, int last, double scale) {
  const stage::Scene& scene = host.scene();
  Sampled s;
  s.fps = scene.fps;
  std::vector<std::size_t> order;
  for (const std::size_t i : scene.evaluation_order()) {
    const stage::Item& item = scene.item(i);
    if (item.type == stage::Item_type::bone || !item.bones.empty()) order.push_back(i);
  }
  if (order.empty()) throw stage::Error("the scene has no bones to export");
  for (const std::size_t i : order) s.items.push_back(scene.item(i).id);
  for (const std::size_t i : order) {
    int p = -1;
    for (std::size_t k = 0; k < s.items.size(); ++k)
      if (s.items[k] == scene.item(i).parent) p = static_cast<int>(k);
    s.parent.push_back(p);
  }
  Vec3 lo{}, hi{};
  for (long long f = first; f <= last; ++f) {  // long long: `last` may be the largest int
    const double t = f / scene.fps;
    host.evaluate(t);
    std::vector<Mat4> w;
    for (std::size_t k = 0; k < s.items.size(); ++k) {
      w.push_back(mirror_z(host.world(s.items[k], t)));
      for (int c = 0; c < 3; ++c) w.back().m[3][c] *= scale;  // lengths, not turns
      if (f != first) continue;
      s.tip.push_back(scaled(mirror_z(host.bone_tip(s.items[k], t)), scale));
      const Vec3 p = stage::translation(w.back());
      for (int c = 0; c < 3; ++c) {
        lo[c] = k == 0 ? p[c] : std::min(lo[c], p[c]);
        hi[c] = k == 0 ? p[c] : std::max(hi[c], p[c]);
      }
    }
    s.world.push_back(std::move(w));
  }
  s.size = std::max(norm(sub(hi, lo)), 1e-300);
  return s;
}

// Rows normalised: the rotation of a transform that may carry a scaling.
Mat3 rotation_of(const Mat4& m, Vec3* scale = nullptr) {
  Mat3 r = linear(m);
  for (int i = 0; i < 3; ++i) {
    const double n = norm({r.m[i][0], r.m[i][1], r.m[i][2]});
    if (scale) (*scale)[i] = n;
    for (int j = 0; j < 3; ++j) r.m[i][j] = n > 0 ? r.m[i][j] / n : (i == j);
  }
  return r;
}

Mat4 local_of(const Sampled& s, std::size_t frame, std::size_t k) {
  const Mat4& w = s.world[frame][k];
  return s.parent[k] < 0 ? w : w * inverse(s.world[frame][s.parent[k]]);
}

std::string base64(const std::string& bytes) {
  static const char* const digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v =
        (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int k = 3; k >= 0; --k) out += digits[(v >> (6 * k)) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = uint8_t(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= uint8_t(bytes[i + 1]) << 8;
    out += digits[(v >> 18) & 63];
    out += digits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

void put_floats(std::string& buffer, const float* values, std::size_t count) {
  buffer.append(reinterpret_cast<const char*>(values), count * sizeof(float));
}

void put_u32(std::string& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out += static_cast<char>((v >> (8 * k)) & 0xFF);
}

// Joint names a BVH reader takes back: whitespace, control characters and braces (which end or
// split a word there) become '_', and a name that then repeats an earlier one gets "_2", "_3", ...
std::vector<std::string> bvh_names(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  std::unordered_map<std::string, int> used;
  for (const std::string& name : names) {
    std::string n;
    for (const char c : name) {
      const unsigned char u = static_cast<unsigned char>(c);
      n += (u <= ' ' || u == 0x7F || c == '{' || c == '}') ? '_' : c;
    }
    if (n.empty()) n = "joint";
    if (used.count(n)) {
      int k = used[n];
      while (used.count(n + "_" + std::to_string(k))) ++k;
      used[n] = k + 1;
      n += "_" + std::to_string(k);
    }
    used.emplace(n, 2);
    out.push_back(n);
  }
  return out;
}

// Column-form rotation as Z, then Y, then X angles (R = Rz(a) Ry(b) Rx(c)), radians. With a
// known, Rz(a)^T R has row 1 = (0, cos c, -sin c), which fixes c even where b is near 90 degrees.
Vec3 zyx_angles(const Mat3& r) {
  const auto& m = r.m;
  const double a = std::atan2(m[1][0], m[0][0]);
  const double b = std::atan2(-m[2][0], std::hypot(m[0][0], m[1][0]));
  const double ca = std::cos(a), sa = std::sin(a);
  const double c = std::atan2(sa * m[0][2] - ca * m[1][2], ca * m[1][1] - sa * m[0][1]);
  return {a, b, c};
}

// What each sampled item becomes in a BVH file: its joints are the first skeleton. An object
// holding one top bone is left out, that bone being the file's ROOT, so a BVH read in and written
// out keeps its own top joint once; a leaf bone that was a BVH End Site (assimp names those
// "EndSite_" and the parent's name) is written as an End Site again.
enum Bvh_kind { bvh_joint, bvh_top, bvh_end_site, bvh_left_out };

std::vector<int> bvh_joint_kinds(const Sampled& s, const stage::Scene& scene) {
  const std::size_t n = s.items.size();
  std::vector<int> kind(n, bvh_left_out);
  std::vector<std::size_t> children(n, 0);
  for (std::size_t k = 0; k < n; ++k)
    if (s.parent[k] >= 0) ++children[s.parent[k]];
  kind[0] = bvh_top;
  for (std::size_t k = 1; k < n; ++k) {
    if (s.parent[k] < 0 || kind[s.parent[k]] == bvh_left_out || kind[s.parent[k]] == bvh_end_site)
      continue;
    const std::string& parent = scene.at(s.items[s.parent[k]]).name;
    kind[k] = children[k] == 0 && scene.at(s.items[k]).name == "EndSite_" + parent ? bvh_end_site
                                                                                   : bvh_joint;
  }
  const bool object_top = scene.at(s.items[0]).type != stage::Item_type::bone;
  if (object_top && children[0] == 1) {
    kind[0] = bvh_left_out;
    for (std::size_t k = 1; k < n; ++k)
      if (s.parent[k] == 0) kind[k] = bvh_top;
  }
  return kind;
}

// One skin per object that owns bones: its bones as the joints, the object as the skeleton's
// root, and as inverse bind matrices the inverses of the joints' world transforms on the first
// frame, so that readers make one armature of them rather than loose animated nodes.
template <class Add_accessor>
nlohmann::ordered_json gltf_skins(const Sampled& s, const stage::Scene& scene, Add_accessor& add) {
  nlohmann::ordered_json skins = nlohmann::ordered_json::array();
  for (std::size_t top = 0; top < s.items.size(); ++top) {
    if (s.parent[top] >= 0 || scene.at(s.items[top]).type == stage::Item_type::bone) continue;
    std::vector<std::size_t> joints;
    for (std::size_t k = 0; k < s.items.size(); ++k) {
      std::size_t a = k;
      while (s.parent[a] >= 0) a = static_cast<std::size_t>(s.parent[a]);
      if (a == top && k != top) joints.push_back(k);
    }
    if (joints.empty()) continue;
    std::vector<float> matrices;
    for (const std::size_t k : joints) {
      // Row-form matrices stored row by row are glTF's column-major column-form ones.
      const Mat4 inv = inverse(s.world[0][k]);
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) matrices.push_back(static_cast<float>(inv.m[i][j]));
    }
    skins.push_back({{"name", scene.at(s.items[top]).name},
                     {"inverseBindMatrices", add(matrices, "MAT4", joints.size(), false)},
                     {"skeleton", top},
                     {"joints", joints}});
  }
  return skins;
}

}  // namespace

std::string export_gltf(stage::Host& host, int first, int last, bool binary, double scale) {
  const Sampled s = sample(host, first, last, scale);
  const std::size_t frames = s.world.size(), n = s.items.size();
  std::string buffer;
  ordered_json views = ordered_json::array(), accessors = ordered_json::array();
  const auto add_accessor = [&](const std::vector<float>& data, const char* type, std::size_t count,
                                bool bounds) {
    ordered_json view = {
        {"buffer", 0}, {"byteOffset", buffer.size()}, {"byteLength", data.size() * sizeof(float)}};
    put_floats(buffer, data.data(), data.size());
    views.push_back(view);
    ordered_json a = {{"bufferView", views.size() - 1},
                      {"componentType", 5126},
                      {"count", count},
                      {"type", type}};
    if (bounds) {
      a["min"] = {data.front()};
      a["max"] = {data.back()};
    }
    accessors.push_back(a);
    return accessors.size() - 1;
  };

  std::vector<float> times;
  for (std::size_t f = 0; f < frames; ++f) times.push_back(static_cast<float>(f / s.fps));
  const std::size_t time_accessor = add_accessor(times, "SCALAR", frames, true);

  const stage::Scene& scene = host.scene();
  ordered_json nodes = ordered_json::array(), roots = ordered_json::array();
  ordered_json channels = ordered_json::array(), samplers = ordered_json::array();
  for (std::size_t k = 0; k < n; ++k) {
    std::vector<float> t, r, sc;
    std::array<double, 4> previous{0, 0, 0, 1};
    for (std::size_t f = 0; f < frames; ++f) {
      const Mat4 local = local_of(s, f, k);
      Vec3 scale{};
      const Mat3 rot = rotation_of(local, &scale);
      std::array<double, 4> q = quaternion_of(transpose(rot));
      if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] < 0)
        for (double& x : q) x = -x;
      previous = q;
      for (int c = 0; c < 3; ++c) t.push_back(static_cast<float>(local.m[3][c]));
      for (int c = 0; c < 4; ++c) r.push_back(static_cast<float>(q[c]));
      for (int c = 0; c < 3; ++c) sc.push_back(static_cast<float>(scale[c]));
    }
    ordered_json node = {{"name", scene.at(s.items[k]).name},
                         {"translation", {t[0], t[1], t[2]}},
                         {"rotation", {r[0], r[1], r[2], r[3]}},
                         {"scale", {sc[0], sc[1], sc[2]}}};
    ordered_json children = ordered_json::array();
    for (std::size_t c = 0; c < n; ++c)
      if (s.parent[c] == static_cast<int>(k)) children.push_back(c);
    if (!children.empty()) node["children"] = children;
    nodes.push_back(node);
    if (s.parent[k] < 0) roots.push_back(k);
    const std::pair<const char*, const std::vector<float>*> paths[] = {
        {"translation", &t}, {"rotation", &r}, {"scale", &sc}};
    for (const auto& [path, data] : paths) {
      const std::size_t out = add_accessor(*data, data == &r ? "VEC4" : "VEC3", frames, false);
      samplers.push_back({{"input", time_accessor}, {"output", out}, {"interpolation", "LINEAR"}});
      channels.push_back(
          {{"sampler", samplers.size() - 1}, {"target", {{"node", k}, {"path", path}}}});
    }
  }

  const ordered_json skins = gltf_skins(s, scene, add_accessor);

  ordered_json root = {
      {"asset", {{"version", "2.0"}, {"generator", "tarsel-stage export"}}},
      {"scene", 0},
      {"scenes", {{{"nodes", roots}}}},
      {"nodes", nodes},
      {"animations", {{{"name", "Tarsel"}, {"channels", channels}, {"samplers", samplers}}}},
      {"buffers", ordered_json::array()},
      {"bufferViews", views},
      {"accessors", accessors}};
  if (!skins.empty()) root["skins"] = skins;
  ordered_json buf = {{"byteLength", buffer.size()}};
  if (!binary) buf["uri"] = "data:application/octet-stream;base64," + base64(buffer);
  root["buffers"].push_back(buf);
  if (!binary) return root.dump(1) + "\n";

  std::string json = root.dump();
  while (json.size() % 4) json += ' ';
  while (buffer.size() % 4) buffer += '\0';
  std::string out = "glTF";
  put_u32(out, 2);
  put_u32(out, static_cast<uint32_t>(12 + 8 + json.size() + 8 + buffer.size()));
  put_u32(out, static_cast<uint32_t>(json.size()));
  out += "JSON";
  out += json;
  put_u32(out, static_cast<uint32_t>(buffer.size()));
  out += std::string("BIN\0", 4);
  out += buffer;
  return out;
}

std::string export_bvh(stage::Host& host, int first, int last, double scale) {
  const Sampled s = sample(host, first, last, scale);
  const stage::Scene& scene = host.scene();
  const std::size_t frames = s.world.size();
  const std::vector<int> kind = bvh_joint_kinds(s, scene);
  const auto is_joint = [&](std::size_t c, std::size_t k) {
    return s.parent[c] == static_cast<int>(k) && kind[c] != bvh_left_out;
  };
  // The ROOT: the skeleton's own top joint where the object above it holds just that one.
  std::size_t top = 0;
  for (std::size_t c = 0; c < s.items.size(); ++c)
    if (kind[c] == bvh_top) top = c;

  // Each joint's offset from its parent, in the parent's (unscaled) frame, on a frame.
  const auto offset = [&](std::size_t f, std::size_t k) {
    const Vec3 p = stage::translation(s.world[f][k]);
    if (k == top || s.parent[k] < 0) return p;
    const Mat4& pw = s.world[f][s.parent[k]];
    return mul(sub(p, stage::translation(pw)), transpose(rotation_of(pw)));
  };
  std::vector<char> moves(s.items.size(), 0);
  for (std::size_t k = 0; k < s.items.size(); ++k) {
    moves[k] = k == top;
    for (std::size_t f = 1; f < frames && !moves[k]; ++f)
      if (norm(sub(offset(f, k), offset(0, k))) > 1e-9 * s.size) moves[k] = 1;
  }

  std::string out = "HIERARCHY\n";
  char line[256];
  std::vector<std::size_t> order;  // joints in the order their channels are written
  const auto end_site = [&](const std::string& pad, const Vec3& e) {
    std::snprintf(line, sizeof line, "%s\tEnd Site\n%s\t{\n%s\t\tOFFSET %.10g %.10g %.10g\n%s\t}\n",
                  pad.c_str(), pad.c_str(), pad.c_str(), e[0], e[1], e[2], pad.c_str());
    out += line;
  };
  std::vector<std::string> item_names;
  for (const LWItemID id : s.items) item_names.push_back(scene.at(id).name);
  const std::vector<std::string> names = bvh_names(item_names);
  const std::function<void(std::size_t, int)> write = [&](std::size_t k, int depth) {
    const std::string pad(depth, '\t');
    order.push_back(k);
    out += pad + (depth == 0 ? "ROOT " : "JOINT ") + names[k] + "\n";
    out += pad + "{\n";
    // A joint with position channels carries its whole offset in them: OFFSET 0, so that
    // readers adding the two (as the format is commonly read) and readers taking the channels
    // alone agree.
    const Vec3 o = moves[k] ? Vec3{0, 0, 0} : offset(0, k);
    std::snprintf(line, sizeof line, "%s\tOFFSET %.10g %.10g %.10g\n", pad.c_str(), o[0], o[1],
                  o[2]);
    out += line;
    out += pad + (moves[k]
                      ? "\tCHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n"
                      : "\tCHANNELS 3 Zrotation Yrotation Xrotation\n");
    bool has_child = false;
    for (std::size_t c = 0; c < s.items.size(); ++c) {
      if (!is_joint(c, k)) continue;
      has_child = true;
      if (kind[c] == bvh_end_site)
        end_site(pad, offset(0, c));
      else
        write(c, depth + 1);
    }
    if (!has_child)
      end_site(pad, mul(sub(s.tip[k], stage::translation(s.world[0][k])),
                        transpose(rotation_of(s.world[0][k]))));
    out += pad + "}\n";
  };
  write(top, 0);
  std::snprintf(line, sizeof line, "MOTION\nFrames: %zu\nFrame Time: %.10g\n", frames, 1 / s.fps);
  out += line;
  for (std::size_t f = 0; f < frames; ++f) {
    std::string row;
    for (const std::size_t k : order) {
      const Mat3 r = rotation_of(s.world[f][k]);
      const Mat3 local =
          k == top || s.parent[k] < 0 ? r : r * transpose(rotation_of(s.world[f][s.parent[k]]));
      const Vec3 a = zyx_angles(transpose(local));
      if (moves[k]) {
        const Vec3 o = offset(f, k);
        std::snprintf(line, sizeof line, "%.10g %.10g %.10g ", o[0], o[1], o[2]);
        row += line;
      }
      std::snprintf(line, sizeof line, "%.10g %.10g %.10g ", stage::rad_to_deg(a[0]),
                    stage::rad_to_deg(a[1]), stage::rad_to_deg(a[2]));
      row += line;
    }
    row.back() = '\n';
    out += row;
  }
  return out;
}

}  // namespace formats
