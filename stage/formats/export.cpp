#include "stage/formats/export.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

Sampled sample(stage::Host& host, int first, int last) {
  const stage::Scene& scene = host.scene();
  Sampled s;
  s.fps = scene.fps;
  std::vector<std::size_t> order;
  for (const std::size_t i : scene.evaluation_order()) {
    const stage::Item& item = scene.item(i);
    if (item.type == stage::Item_type::bone || !item.bones.empty()) order.push_back(i);
  }
  if (order.empty()) throw stage::Error("the scene has no bones to export");
  std::unordered_map<LWItemID, int> index;
  for (const std::size_t i : order) {
    index[scene.item(i).id] = static_cast<int>(s.items.size());
    s.items.push_back(scene.item(i).id);
  }
  for (const std::size_t i : order) {
    const auto p = index.find(scene.item(i).parent);
    s.parent.push_back(p == index.end() ? -1 : p->second);
  }
  Vec3 lo{}, hi{};
  for (long long f = first; f <= last; ++f) {
    const double t = f / scene.fps;
    host.evaluate(t);
    std::vector<Mat4> w;
    for (std::size_t k = 0; k < s.items.size(); ++k) {
      w.push_back(mirror_z(host.world(s.items[k], t)));
      if (f != first) continue;
      s.tip.push_back(mirror_z(host.bone_tip(s.items[k], t)));
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

}  // namespace

std::string export_gltf(stage::Host& host, int first, int last, bool binary) {
  const Sampled s = sample(host, first, last);
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
  std::vector<std::vector<std::size_t>> child_lists(n);
  for (std::size_t c = 0; c < n; ++c)
    if (s.parent[c] >= 0) child_lists[s.parent[c]].push_back(c);
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
    for (const std::size_t c : child_lists[k]) children.push_back(c);
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

  ordered_json root = {
      {"asset", {{"version", "2.0"}, {"generator", "tarsel-stage export"}}},
      {"scene", 0},
      {"scenes", {{{"nodes", roots}}}},
      {"nodes", nodes},
      {"animations", {{{"name", "Tarsel"}, {"channels", channels}, {"samplers", samplers}}}},
      {"buffers", ordered_json::array()},
      {"bufferViews", views},
      {"accessors", accessors}};
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

std::string export_bvh(stage::Host& host, int first, int last) {
  const Sampled s = sample(host, first, last);
  const stage::Scene& scene = host.scene();
  const std::size_t frames = s.world.size();
  // One skeleton: the first top node and everything below it.
  std::vector<char> in(s.items.size(), 0);
  for (std::size_t k = 0; k < s.items.size(); ++k)
    in[k] = k == 0 || (s.parent[k] >= 0 && in[s.parent[k]]);

  // Each joint's offset from its parent, in the parent's (unscaled) frame, on a frame.
  const auto offset = [&](std::size_t f, std::size_t k) {
    const Vec3 p = stage::translation(s.world[f][k]);
    if (s.parent[k] < 0) return p;
    const Mat4& pw = s.world[f][s.parent[k]];
    return mul(sub(p, stage::translation(pw)), transpose(rotation_of(pw)));
  };
  std::vector<char> moves(s.items.size(), 0);
  for (std::size_t k = 0; k < s.items.size(); ++k) {
    moves[k] = s.parent[k] < 0;
    for (std::size_t f = 1; f < frames && !moves[k]; ++f)
      if (norm(sub(offset(f, k), offset(0, k))) > 1e-9 * s.size) moves[k] = 1;
  }

  std::vector<std::string> item_names;
  for (const LWItemID id : s.items) item_names.push_back(scene.at(id).name);
  const std::vector<std::string> names = bvh_names(item_names);
  std::vector<std::vector<std::size_t>> children(s.items.size());
  for (std::size_t c = 0; c < s.items.size(); ++c)
    if (s.parent[c] >= 0 && in[c]) children[s.parent[c]].push_back(c);

  std::string out = "HIERARCHY\n";
  char line[256];
  std::vector<std::size_t> order;  // joints in the order their channels are written
  // Depth first without recursion: a joint's block is opened, its children written, then closed.
  struct Step {
    std::size_t k;
    int depth;
    bool close;
  };
  std::vector<Step> steps{{0, 0, false}};
  while (!steps.empty()) {
    const Step step = steps.back();
    steps.pop_back();
    const std::size_t k = step.k;
    const std::string pad(step.depth, '\t');
    if (step.close) {
      if (children[k].empty()) {
        const Vec3 e = mul(sub(s.tip[k], stage::translation(s.world[0][k])),
                           transpose(rotation_of(s.world[0][k])));
        std::snprintf(line, sizeof line,
                      "%s\tEnd Site\n%s\t{\n%s\t\tOFFSET %.10g %.10g %.10g\n%s\t}\n", pad.c_str(),
                      pad.c_str(), pad.c_str(), e[0], e[1], e[2], pad.c_str());
        out += line;
      }
      out += pad + "}\n";
      continue;
    }
    order.push_back(k);
    out += pad + (step.depth == 0 ? "ROOT " : "JOINT ") + names[k] + "\n";
    out += pad + "{\n";
    const Vec3 o = s.parent[k] < 0 ? Vec3{0, 0, 0} : offset(0, k);
    std::snprintf(line, sizeof line, "%s\tOFFSET %.10g %.10g %.10g\n", pad.c_str(), o[0], o[1],
                  o[2]);
    out += line;
    out += pad + (moves[k]
                      ? "\tCHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n"
                      : "\tCHANNELS 3 Zrotation Yrotation Xrotation\n");
    steps.push_back({k, step.depth, true});
    for (std::size_t c = children[k].size(); c-- > 0;)
      steps.push_back({children[k][c], step.depth + 1, false});
  }
  std::snprintf(line, sizeof line, "MOTION\nFrames: %zu\nFrame Time: %.10g\n", frames, 1 / s.fps);
  out += line;
  for (std::size_t f = 0; f < frames; ++f) {
    std::string row;
    for (const std::size_t k : order) {
      const Mat3 r = rotation_of(s.world[f][k]);
      const Mat3 local = s.parent[k] < 0 ? r : r * transpose(rotation_of(s.world[f][s.parent[k]]));
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
