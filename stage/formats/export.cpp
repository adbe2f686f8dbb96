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

// The skeletons of a scene: the objects owning bones and their bones, with their world
// transforms on the first frame in the right-handed frame. Later frames are evaluated one at a
// time (frame_world), so that memory does not grow with the number of frames.
struct Sampled {
  std::vector<LWItemID> items;  // owners first, then bones; parents before children
  std::vector<int> parent;      // index into items, -1 for a top node
  std::vector<Mat4> world0;     // on the first frame
  std::vector<Vec3> tip;        // bones' tips on the first frame (objects: unused)
  int first = 0, last = 0;
  double fps = 30;
  double size = 1;  // spread of the joints on the first frame
  std::size_t frames() const { return static_cast<std::size_t>(last - first) + 1; }
};

// Every item's world transform on frame first + index, into `w`.
void frame_world(stage::Host& host, const Sampled& s, std::size_t index, std::vector<Mat4>& w) {
  const double t = (s.first + static_cast<long long>(index)) / s.fps;
  host.evaluate(t);
  w.resize(s.items.size());
  for (std::size_t k = 0; k < s.items.size(); ++k) w[k] = mirror_z(host.world(s.items[k], t));
}

Sampled sample(stage::Host& host, int first, int last) {
  const stage::Scene& scene = host.scene();
  Sampled s;
  s.fps = scene.fps;
  s.first = first;
  s.last = last;
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
  frame_world(host, s, 0, s.world0);
  Vec3 lo{}, hi{};
  for (std::size_t k = 0; k < s.items.size(); ++k) {
    s.tip.push_back(mirror_z(host.bone_tip(s.items[k], first / s.fps)));
    const Vec3 p = stage::translation(s.world0[k]);
    for (int c = 0; c < 3; ++c) {
      lo[c] = k == 0 ? p[c] : std::min(lo[c], p[c]);
      hi[c] = k == 0 ? p[c] : std::max(hi[c], p[c]);
    }
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

Mat4 local_of(const Sampled& s, const std::vector<Mat4>& world, std::size_t k) {
  const Mat4& w = world[k];
  return s.parent[k] < 0 ? w : w * inverse(world[s.parent[k]]);
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

void export_gltf(stage::Host& host, int first, int last, bool binary, const Sink& out) {
  const Sampled s = sample(host, first, last);
  const std::size_t frames = s.frames(), n = s.items.size();
  // The buffer at its final size, filled frame by frame: the key times, then for each node its
  // translations (12 bytes a frame), rotations (16) and scalings (12).
  const std::size_t per_node = frames * 40;
  std::string buffer(frames * 4 + n * per_node, '\0');
  const auto at = [&](std::size_t k, int path) {
    return frames * 4 + k * per_node + (path == 0 ? 0 : path == 1 ? frames * 12 : frames * 28);
  };
  const auto put = [&](std::size_t offset, const float* v, std::size_t count) {
    std::memcpy(&buffer[offset], v, count * sizeof(float));
  };
  for (std::size_t f = 0; f < frames; ++f) {
    const float t = static_cast<float>(f / s.fps);
    put(f * 4, &t, 1);
  }
  std::vector<std::array<double, 4>> previous(n, {0, 0, 0, 1});
  std::vector<std::array<float, 10>> rest(n);  // each node's first frame: t, r, s
  std::vector<Mat4> world = s.world0;
  for (std::size_t f = 0; f < frames; ++f) {
    if (f > 0) frame_world(host, s, f, world);
    for (std::size_t k = 0; k < n; ++k) {
      const Mat4 local = local_of(s, world, k);
      Vec3 scale{};
      const Mat3 rot = rotation_of(local, &scale);
      std::array<double, 4> q = quaternion_of(transpose(rot));
      const std::array<double, 4>& p = previous[k];
      if (q[0] * p[0] + q[1] * p[1] + q[2] * p[2] + q[3] * p[3] < 0)
        for (double& x : q) x = -x;
      previous[k] = q;
      std::array<float, 10> v{};
      for (int c = 0; c < 3; ++c) v[c] = static_cast<float>(local.m[3][c]);
      for (int c = 0; c < 4; ++c) v[3 + c] = static_cast<float>(q[c]);
      for (int c = 0; c < 3; ++c) v[7 + c] = static_cast<float>(scale[c]);
      put(at(k, 0) + f * 12, &v[0], 3);
      put(at(k, 1) + f * 16, &v[3], 4);
      put(at(k, 2) + f * 12, &v[7], 3);
      if (f == 0) rest[k] = v;
    }
  }

  ordered_json views = ordered_json::array(), accessors = ordered_json::array();
  const auto add_accessor = [&](std::size_t offset, std::size_t bytes, const char* type) {
    views.push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", bytes}});
    accessors.push_back({{"bufferView", views.size() - 1},
                         {"componentType", 5126},
                         {"count", frames},
                         {"type", type}});
    return accessors.size() - 1;
  };
  const std::size_t time_accessor = add_accessor(0, frames * 4, "SCALAR");
  accessors[time_accessor]["min"] = {0.0f};
  accessors[time_accessor]["max"] = {static_cast<float>((frames - 1) / s.fps)};

  const stage::Scene& scene = host.scene();
  std::vector<std::vector<std::size_t>> child_lists(n);
  for (std::size_t c = 0; c < n; ++c)
    if (s.parent[c] >= 0) child_lists[s.parent[c]].push_back(c);
  ordered_json nodes = ordered_json::array(), roots = ordered_json::array();
  ordered_json channels = ordered_json::array(), samplers = ordered_json::array();
  for (std::size_t k = 0; k < n; ++k) {
    const std::array<float, 10>& v = rest[k];
    ordered_json node = {{"name", scene.at(s.items[k]).name},
                         {"translation", {v[0], v[1], v[2]}},
                         {"rotation", {v[3], v[4], v[5], v[6]}},
                         {"scale", {v[7], v[8], v[9]}}};
    ordered_json children = ordered_json::array();
    for (const std::size_t c : child_lists[k]) children.push_back(c);
    if (!children.empty()) node["children"] = children;
    nodes.push_back(node);
    if (s.parent[k] < 0) roots.push_back(k);
    const char* const paths[] = {"translation", "rotation", "scale"};
    for (int path = 0; path < 3; ++path) {
      const std::size_t accessor =
          add_accessor(at(k, path), frames * (path == 1 ? 16 : 12), path == 1 ? "VEC4" : "VEC3");
      samplers.push_back(
          {{"input", time_accessor}, {"output", accessor}, {"interpolation", "LINEAR"}});
      channels.push_back(
          {{"sampler", samplers.size() - 1}, {"target", {{"node", k}, {"path", paths[path]}}}});
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
  if (!binary) {
    // The data inline, written in pieces where the placeholder stands.
    const std::string mark = "data:application/octet-stream;base64,@";
    buf["uri"] = mark;
    root["buffers"].push_back(buf);
    const std::string json = root.dump(1) + "\n";
    const std::size_t cut = json.find(mark) + mark.size() - 1;
    out(json.substr(0, cut));
    const std::size_t piece = 3 << 16;  // a multiple of 3 bytes: no padding inside the text
    for (std::size_t i = 0; i < buffer.size(); i += piece) out(base64(buffer.substr(i, piece)));
    out(json.substr(cut + 1));
    return;
  }
  root["buffers"].push_back(buf);
  std::string json = root.dump();
  while (json.size() % 4) json += ' ';
  std::string head = "glTF";
  put_u32(head, 2);
  put_u32(head, static_cast<uint32_t>(12 + 8 + json.size() + 8 + buffer.size()));
  put_u32(head, static_cast<uint32_t>(json.size()));
  head += "JSON";
  out(head + json);
  head.clear();
  put_u32(head, static_cast<uint32_t>(buffer.size()));
  head += std::string("BIN\0", 4);
  out(head);
  const std::size_t piece = 1 << 20;  // the sink may copy what it gets: pieces, not all at once
  for (std::size_t i = 0; i < buffer.size(); i += piece) out(buffer.substr(i, piece));
}

void export_bvh(stage::Host& host, int first, int last, const Sink& out) {
  const Sampled s = sample(host, first, last);
  const stage::Scene& scene = host.scene();
  const std::size_t frames = s.frames();
  // One skeleton: the first top node and everything below it.
  std::vector<char> in(s.items.size(), 0);
  for (std::size_t k = 0; k < s.items.size(); ++k)
    in[k] = k == 0 || (s.parent[k] >= 0 && in[s.parent[k]]);

  // Each joint's offset from its parent, in the parent's (unscaled) frame, on a frame.
  const auto offset = [&](const std::vector<Mat4>& world, std::size_t k) {
    const Vec3 p = stage::translation(world[k]);
    if (s.parent[k] < 0) return p;
    const Mat4& pw = world[s.parent[k]];
    return mul(sub(p, stage::translation(pw)), transpose(rotation_of(pw)));
  };
  // A first pass over the frames finds the joints whose offset moves (they get position
  // channels); the second writes the frames as it evaluates them.
  std::vector<char> moves(s.items.size(), 0);
  for (std::size_t k = 0; k < s.items.size(); ++k) moves[k] = s.parent[k] < 0;
  std::vector<Mat4> world;
  for (std::size_t f = 1; f < frames; ++f) {
    frame_world(host, s, f, world);
    for (std::size_t k = 0; k < s.items.size(); ++k)
      if (!moves[k] && norm(sub(offset(world, k), offset(s.world0, k))) > 1e-9 * s.size)
        moves[k] = 1;
  }

  std::vector<std::string> item_names;
  for (const LWItemID id : s.items) item_names.push_back(scene.at(id).name);
  const std::vector<std::string> names = bvh_names(item_names);
  std::vector<std::vector<std::size_t>> children(s.items.size());
  for (std::size_t c = 0; c < s.items.size(); ++c)
    if (s.parent[c] >= 0 && in[c]) children[s.parent[c]].push_back(c);

  std::string text = "HIERARCHY\n";
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
        const Vec3 e = mul(sub(s.tip[k], stage::translation(s.world0[k])),
                           transpose(rotation_of(s.world0[k])));
        std::snprintf(line, sizeof line,
                      "%s\tEnd Site\n%s\t{\n%s\t\tOFFSET %.10g %.10g %.10g\n%s\t}\n", pad.c_str(),
                      pad.c_str(), pad.c_str(), e[0], e[1], e[2], pad.c_str());
        text += line;
      }
      text += pad + "}\n";
      continue;
    }
    order.push_back(k);
    text += pad + (step.depth == 0 ? "ROOT " : "JOINT ") + names[k] + "\n";
    text += pad + "{\n";
    const Vec3 o = s.parent[k] < 0 ? Vec3{0, 0, 0} : offset(s.world0, k);
    std::snprintf(line, sizeof line, "%s\tOFFSET %.10g %.10g %.10g\n", pad.c_str(), o[0], o[1],
                  o[2]);
    text += line;
    text += pad +
            (moves[k] ? "\tCHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n"
                      : "\tCHANNELS 3 Zrotation Yrotation Xrotation\n");
    steps.push_back({k, step.depth, true});
    for (std::size_t c = children[k].size(); c-- > 0;)
      steps.push_back({children[k][c], step.depth + 1, false});
  }
  std::snprintf(line, sizeof line, "MOTION\nFrames: %zu\nFrame Time: %.10g\n", frames, 1 / s.fps);
  text += line;
  out(text);
  for (std::size_t f = 0; f < frames; ++f) {
    frame_world(host, s, f, world);  // in order from the first again, as the first pass went
    std::string row;
    for (const std::size_t k : order) {
      const Mat3 r = rotation_of(world[k]);
      const Mat3 local = s.parent[k] < 0 ? r : r * transpose(rotation_of(world[s.parent[k]]));
      const Vec3 a = zyx_angles(transpose(local));
      if (moves[k]) {
        const Vec3 o = offset(world, k);
        std::snprintf(line, sizeof line, "%.10g %.10g %.10g ", o[0], o[1], o[2]);
        row += line;
      }
      std::snprintf(line, sizeof line, "%.10g %.10g %.10g ", stage::rad_to_deg(a[0]),
                    stage::rad_to_deg(a[1]), stage::rad_to_deg(a[2]));
      row += line;
    }
    row.back() = '\n';
    out(row);
  }
}

std::string export_gltf(stage::Host& host, int first, int last, bool binary) {
  std::string text;
  export_gltf(host, first, last, binary, [&](const std::string& piece) { text += piece; });
  return text;
}

std::string export_bvh(stage::Host& host, int first, int last) {
  std::string text;
  export_bvh(host, first, last, [&](const std::string& piece) { text += piece; });
  return text;
}

}  // namespace formats
