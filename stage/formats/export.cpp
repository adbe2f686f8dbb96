#include "stage/formats/export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_map>
#include <vector>

#include "stage/error.h"
#include "stage/formats/frame_math.h"
#include "stage/formats/skinned_mesh.h"

namespace formats {

namespace {

using nlohmann::ordered_json;

// The skeletons of a scene: the objects owning bones and their bones, with their world transforms
// on the first frame in the right-handed frame. Later frames are evaluated one at a time (Frames),
// so that no export holds a transform per frame.
struct Skeleton {
  std::vector<LWItemID> items;  // owners first, then bones; parents before children
  std::vector<int> parent;      // index into items, -1 for a top node
  std::vector<std::vector<std::size_t>> children;  // indices into items, in order
  std::vector<Mat4> first;                         // world transforms on the first frame
  std::vector<Vec3> tip;  // bones' tips on the first frame (objects: unused)
  double fps = 30;
  double size = 1;  // spread of the joints on the first frame
};

// Every item's world transform on a frame, right-handed, lengths (not turns) scaled.
class Frames {
 public:
  Frames(stage::Host& host, const Skeleton& s, double scale)
      : host_(host), s_(s), scale_(scale), world_(s.items.size()) {}
  const std::vector<Mat4>& at(long long frame) {  // long long: `last` may be the largest int
    const double t = frame / s_.fps;
    host_.evaluate(t);
    for (std::size_t k = 0; k < s_.items.size(); ++k) {
      world_[k] = mirror_z(host_.world(s_.items[k], t));
      for (int c = 0; c < 3; ++c) world_[k].m[3][c] *= scale_;
    }
    return world_;
  }
  double time(long long frame) const { return frame / s_.fps; }

 private:
  stage::Host& host_;
  const Skeleton& s_;
  double scale_;
  std::vector<Mat4> world_;
};

Skeleton skeleton(stage::Host& host, int first, double scale) {
  const stage::Scene& scene = host.scene();
  Skeleton s;
  s.fps = scene.fps;
  for (const std::size_t i : scene.evaluation_order()) {
    const stage::Item& item = scene.item(i);
    if (item.type == stage::Item_type::bone || !item.bones.empty()) s.items.push_back(item.id);
  }
  if (s.items.empty()) throw stage::Error("the scene has no bones to export");
  std::unordered_map<LWItemID, int> index;
  for (std::size_t k = 0; k < s.items.size(); ++k) index[s.items[k]] = static_cast<int>(k);
  s.children.resize(s.items.size());
  for (std::size_t k = 0; k < s.items.size(); ++k) {
    const auto it = index.find(scene.at(s.items[k]).parent);
    s.parent.push_back(it == index.end() ? -1 : it->second);
    if (s.parent.back() >= 0) s.children[s.parent.back()].push_back(k);
  }
  Frames frames(host, s, scale);
  s.first = frames.at(first);
  const double t = frames.time(first);
  Vec3 lo{}, hi{};
  for (std::size_t k = 0; k < s.items.size(); ++k) {
    s.tip.push_back(scaled(mirror_z(host.bone_tip(s.items[k], t)), scale));
    const Vec3 p = stage::translation(s.first[k]);
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

// Output gathered into pieces of about 64 KiB for the sink.
class Chunks {
 public:
  explicit Chunks(const Export_sink& sink) : sink_(sink) {}
  void put(const char* data, std::size_t size) {
    while (size > 0) {
      const std::size_t take = std::min(size, piece - text_.size());
      text_.append(data, take);
      data += take;
      size -= take;
      if (text_.size() == piece) flush();
    }
  }
  void put(const std::string& s) { put(s.data(), s.size()); }
  void flush() {
    if (!text_.empty()) sink_(text_);
    text_.clear();
  }

 private:
  static constexpr std::size_t piece = 1u << 16;
  const Export_sink& sink_;
  std::string text_;
};

void put_u32(Chunks& out, uint32_t v) {
  char b[4];
  for (int k = 0; k < 4; ++k) b[k] = static_cast<char>((v >> (8 * k)) & 0xFF);
  out.put(b, 4);
}

// Base64 of bytes given in pieces: up to two bytes wait for the next piece.
class Base64 {
 public:
  explicit Base64(Chunks& out) : out_(out) {}
  void put(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      held_[count_++] = static_cast<uint8_t>(data[i]);
      if (count_ == 3) {
        const uint32_t v = (held_[0] << 16) | (held_[1] << 8) | held_[2];
        char four[4];
        for (int k = 3; k >= 0; --k) four[3 - k] = digits[(v >> (6 * k)) & 63];
        out_.put(four, 4);
        count_ = 0;
      }
    }
  }
  void finish() {
    if (count_ == 0) return;
    uint32_t v = held_[0] << 16;
    if (count_ == 2) v |= held_[1] << 8;
    const char four[4] = {digits[(v >> 18) & 63], digits[(v >> 12) & 63],
                          count_ == 2 ? digits[(v >> 6) & 63] : '=', '='};
    out_.put(four, 4);
    count_ = 0;
  }

 private:
  static constexpr const char* digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Chunks& out_;
  uint8_t held_[3] = {};
  int count_ = 0;
};

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

std::vector<int> bvh_joint_kinds(const Skeleton& s, const stage::Scene& scene) {
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

// The data of the glTF buffer in order (a deque keeps each in place as more are added): floats,
// or the integers of joint indices and triangles.
struct Block {
  std::vector<float> floats;
  std::vector<uint16_t> shorts;
  std::vector<uint32_t> words;
  const char* data() const {
    return !floats.empty()   ? reinterpret_cast<const char*>(floats.data())
           : !shorts.empty() ? reinterpret_cast<const char*>(shorts.data())
                             : reinterpret_cast<const char*>(words.data());
  }
  std::size_t size() const {
    return floats.size() * sizeof(float) + shorts.size() * sizeof(uint16_t) +
           words.size() * sizeof(uint32_t);
  }
};

// The glTF buffer as it is put together: its blocks, each with its buffer view and accessor.
class Gltf_buffer {
 public:
  // The accessor's index. `target` is the view's use (0: none said), `component` glTF's
  // component type.
  std::size_t add(Block&& b, int component, const char* type, std::size_t count, int target) {
    ordered_json view = {{"buffer", 0}, {"byteOffset", size}, {"byteLength", b.size()}};
    if (target) view["target"] = target;
    views.push_back(std::move(view));
    size += b.size();
    accessors.push_back({{"bufferView", views.size() - 1},
                         {"componentType", component},
                         {"count", count},
                         {"type", type}});
    blocks.push_back(std::move(b));
    return accessors.size() - 1;
  }
  std::size_t add(std::vector<float>&& data, const char* type, std::size_t count, int target = 0) {
    Block b;
    b.floats = std::move(data);
    return add(std::move(b), 5126, type, count, target);
  }

  std::deque<Block> blocks;
  std::size_t size = 0;
  ordered_json views = ordered_json::array(), accessors = ordered_json::array();
};

// A column-form glTF matrix (stored column by column) of a row-form one: the same numbers row by
// row.
void put_matrix(std::vector<float>& out, const Mat4& m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) out.push_back(static_cast<float>(m.m[i][j]));
}

// Skins, and the skinned meshes the scene's bones carry. Each object that owns bones makes at
// least one skin: its bones as the joints, the object as the skeleton's root, so that readers make
// one armature of them rather than loose animated nodes. Its inverse bind matrices are the
// inverses of where each bone stood when a mesh was bound to it, for bones no mesh binds the
// inverses of their first-frame world transforms; meshes that bind the same bones alike share a
// skin. Each mesh becomes a node of its own at the top, as skinned meshes are placed by their
// joints alone.
struct Gltf_skinning {
  ordered_json skins = ordered_json::array();
  ordered_json meshes = ordered_json::array();
  ordered_json mesh_nodes = ordered_json::array();
};

Gltf_skinning gltf_skinning(const Skeleton& s, const stage::Scene& scene, double scale,
                            Gltf_buffer& buffer) {
  const std::size_t n = s.items.size();
  std::vector<std::size_t> top_of(n);  // parents come before children
  for (std::size_t k = 0; k < n; ++k)
    top_of[k] = s.parent[k] < 0 ? k : top_of[static_cast<std::size_t>(s.parent[k])];
  std::vector<std::vector<std::size_t>> joints(n);  // by top: its bones
  std::vector<uint16_t> slot(n, 0);                 // a bone's index among its top's joints
  for (std::size_t k = 0; k < n; ++k)
    if (top_of[k] != k && scene.at(s.items[top_of[k]]).type != stage::Item_type::bone) {
      slot[k] = static_cast<uint16_t>(std::min<std::size_t>(joints[top_of[k]].size(), 65535));
      joints[top_of[k]].push_back(k);
    }
  std::unordered_map<std::string, std::size_t> bone_named;
  for (std::size_t k = n; k-- > 0;)
    if (top_of[k] != k) bone_named[scene.at(s.items[k]).name] = k;

  // A transform of the host's frame in the file's: mirrored, its lengths scaled.
  const auto in_file = [&](const Mat4& m) {
    Mat4 r = mirror_z(m);
    for (int c = 0; c < 3; ++c) r.m[3][c] *= scale;
    return r;
  };
  Gltf_skinning out;
  struct Skin {
    std::size_t top;
    std::vector<float> matrices;
  };
  std::vector<Skin> made;
  const auto skin_of = [&](std::size_t top, std::vector<float>&& matrices) {
    for (std::size_t i = 0; i < made.size(); ++i)
      if (made[i].top == top && made[i].matrices == matrices) return i;
    made.push_back({top, matrices});
    out.skins.push_back(
        {{"name", scene.at(s.items[top]).name},
         {"inverseBindMatrices", buffer.add(std::move(matrices), "MAT4", joints[top].size())},
         {"skeleton", top},
         {"joints", joints[top]}});
    return made.size() - 1;
  };
  const auto first_frame_matrices = [&](std::size_t top) {
    std::vector<float> matrices;
    for (const std::size_t k : joints[top]) put_matrix(matrices, inverse(s.first[k]));
    return matrices;
  };

  Mesh_reader reader;
  std::vector<char> has_mesh(n, 0);
  for (const stage::Mesh_binding& b : scene.meshes) {
    const std::string what = "mesh \"" + b.name + "\" of " + b.source;
    std::vector<std::size_t> bone_item;
    for (const stage::Mesh_bone& bone : b.bones) {
      const auto it = bone_named.find(bone.joint);
      if (it == bone_named.end())
        throw stage::Error(what + ": no bone named \"" + bone.joint + "\" in the scene");
      bone_item.push_back(it->second);
    }
    if (bone_item.empty()) continue;
    const std::size_t top = top_of[bone_item.front()];
    if (joints[top].size() > 65536)  // JOINTS_0 holds 16-bit indices
      throw stage::Error(what + ": its skeleton has " + std::to_string(joints[top].size()) +
                         " bones; a skinned mesh's skin holds at most 65536");
    std::vector<float> matrices = first_frame_matrices(top);
    std::vector<uint16_t> joint_slot;
    for (std::size_t i = 0; i < bone_item.size(); ++i) {
      const std::size_t k = bone_item[i];
      if (top_of[k] != top || joints[top].empty())
        throw stage::Error(what + ": its bones belong to more than one skeleton");
      joint_slot.push_back(slot[k]);
      const Mat4 inv = inverse(in_file(b.bones[i].bind));
      for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
          matrices[16 * slot[k] + 4 * r + c] = static_cast<float>(inv.m[r][c]);
    }
    Mesh_data data = reader.read(b, joint_slot, 0, scale);
    if (data.indices.empty()) continue;  // points and lines alone
    const std::size_t skin = skin_of(top, std::move(matrices));
    has_mesh[top] = 1;
    const std::size_t vertices = b.vertices;
    ordered_json attributes = ordered_json::object();
    const std::size_t position = buffer.add(std::move(data.positions), "VEC3", vertices, 34962);
    buffer.accessors[position]["min"] = {data.min[0], data.min[1], data.min[2]};
    buffer.accessors[position]["max"] = {data.max[0], data.max[1], data.max[2]};
    attributes["POSITION"] = position;
    if (!data.normals.empty())
      attributes["NORMAL"] = buffer.add(std::move(data.normals), "VEC3", vertices, 34962);
    Block joints_block;
    joints_block.shorts = std::move(data.joints);
    attributes["JOINTS_0"] = buffer.add(std::move(joints_block), 5123, "VEC4", vertices, 34962);
    attributes["WEIGHTS_0"] = buffer.add(std::move(data.weights), "VEC4", vertices, 34962);
    const std::size_t count = data.indices.size();
    Block index_block;
    index_block.words = std::move(data.indices);
    const std::size_t indices = buffer.add(std::move(index_block), 5125, "SCALAR", count, 34963);
    out.meshes.push_back(
        {{"name", b.name},
         {"primitives", {{{"attributes", std::move(attributes)}, {"indices", indices}}}}});
    out.mesh_nodes.push_back({{"name", b.name}, {"mesh", out.meshes.size() - 1}, {"skin", skin}});
  }
  for (std::size_t top = 0; top < n; ++top)
    if (!joints[top].empty() && !has_mesh[top]) skin_of(top, first_frame_matrices(top));
  return out;
}

// The JSON text with the buffer's place in it marked: the text before the mark, and after it.
std::pair<std::string, std::string> split_at_buffer(ordered_json& root, ordered_json buffer) {
  // A mark that no name in the document repeats, so that it is found once.
  std::string mark = "@buffer@";
  for (;;) {
    const std::string uri = "data:application/octet-stream;base64," + mark;
    buffer["uri"] = uri;
    root["buffers"] = ordered_json::array({buffer});
    const std::string text = root.dump(1) + "\n";
    const std::size_t at = text.find(uri);
    if (at != std::string::npos && text.find(uri, at + 1) == std::string::npos)
      return {text.substr(0, at + uri.size() - mark.size()), text.substr(at + uri.size())};
    mark += '@';
  }
}

}  // namespace

void export_gltf(stage::Host& host, int first, int last, bool binary, double scale,
                 const Export_sink& sink) {
  const Skeleton s = skeleton(host, first, scale);
  const std::size_t n = s.items.size();
  const auto frames = static_cast<std::size_t>(static_cast<long long>(last) - first + 1);
  Gltf_buffer buffer;
  std::vector<float> times;
  times.reserve(frames);
  for (std::size_t f = 0; f < frames; ++f) times.push_back(static_cast<float>(f / s.fps));
  const float end_time = times.back();
  const std::size_t time_accessor = buffer.add(std::move(times), "SCALAR", frames);
  buffer.accessors[time_accessor]["min"] = {0.0f};
  buffer.accessors[time_accessor]["max"] = {end_time};

  // Each item's translation, rotation and scaling on every frame: the floats the file holds.
  std::vector<std::array<std::vector<float>, 3>> tracks(n);
  for (auto& t : tracks)
    for (int p = 0; p < 3; ++p) t[p].reserve((p == 1 ? 4 : 3) * frames);
  std::vector<std::array<double, 4>> previous(n, {0, 0, 0, 1});
  Frames sampler(host, s, scale);
  for (long long f = first; f <= last; ++f) {
    const std::vector<Mat4>& world = sampler.at(f);
    for (std::size_t k = 0; k < n; ++k) {
      const Mat4 local = s.parent[k] < 0 ? world[k] : world[k] * inverse(world[s.parent[k]]);
      Vec3 size{};
      const Mat3 rot = rotation_of(local, &size);
      std::array<double, 4> q = quaternion_of(transpose(rot));
      const std::array<double, 4>& p = previous[k];
      if (q[0] * p[0] + q[1] * p[1] + q[2] * p[2] + q[3] * p[3] < 0)
        for (double& x : q) x = -x;
      previous[k] = q;
      for (int c = 0; c < 3; ++c) tracks[k][0].push_back(static_cast<float>(local.m[3][c]));
      for (int c = 0; c < 4; ++c) tracks[k][1].push_back(static_cast<float>(q[c]));
      for (int c = 0; c < 3; ++c) tracks[k][2].push_back(static_cast<float>(size[c]));
    }
  }

  const stage::Scene& scene = host.scene();
  ordered_json nodes = ordered_json::array(), roots = ordered_json::array();
  ordered_json channels = ordered_json::array(), samplers = ordered_json::array();
  for (std::size_t k = 0; k < n; ++k) {
    const std::vector<float>&t = tracks[k][0], &r = tracks[k][1], &sc = tracks[k][2];
    ordered_json node = {{"name", scene.at(s.items[k]).name},
                         {"translation", {t[0], t[1], t[2]}},
                         {"rotation", {r[0], r[1], r[2], r[3]}},
                         {"scale", {sc[0], sc[1], sc[2]}}};
    if (!s.children[k].empty()) node["children"] = s.children[k];
    nodes.push_back(std::move(node));
    if (s.parent[k] < 0) roots.push_back(k);
    const char* const paths[] = {"translation", "rotation", "scale"};
    for (int p = 0; p < 3; ++p) {
      const std::size_t out = buffer.add(std::move(tracks[k][p]), p == 1 ? "VEC4" : "VEC3", frames);
      samplers.push_back({{"input", time_accessor}, {"output", out}, {"interpolation", "LINEAR"}});
      channels.push_back(
          {{"sampler", samplers.size() - 1}, {"target", {{"node", k}, {"path", paths[p]}}}});
    }
  }

  Gltf_skinning skinning = gltf_skinning(s, scene, scale, buffer);
  for (ordered_json& node : skinning.mesh_nodes) {
    roots.push_back(nodes.size());
    nodes.push_back(std::move(node));
  }

  // The document's parts moved in rather than copied: a skeleton of many joints makes a large one.
  ordered_json animation = ordered_json::object();
  animation["name"] = "Tarsel";
  animation["channels"] = std::move(channels);
  animation["samplers"] = std::move(samplers);
  ordered_json root = {{"asset", {{"version", "2.0"}, {"generator", "tarsel-stage export"}}},
                       {"scene", 0},
                       {"scenes", {{{"nodes", roots}}}}};
  root["nodes"] = std::move(nodes);
  root["animations"] = ordered_json::array();
  root["animations"].push_back(std::move(animation));
  root["buffers"] = ordered_json::array();
  root["bufferViews"] = std::move(buffer.views);
  root["accessors"] = std::move(buffer.accessors);
  if (!skinning.meshes.empty()) root["meshes"] = std::move(skinning.meshes);
  if (!skinning.skins.empty()) root["skins"] = std::move(skinning.skins);
  const std::size_t buffer_size = buffer.size;
  const ordered_json buffer_json = {{"byteLength", buffer_size}};

  Chunks out(sink);
  const auto put_blocks = [&](auto& to) {
    for (const Block& b : buffer.blocks) to.put(b.data(), b.size());
  };
  if (!binary) {
    // The buffer inline as base64, encoded as it is written.
    const auto [before, after] = split_at_buffer(root, buffer_json);
    out.put(before);
    Base64 encoder(out);
    put_blocks(encoder);
    encoder.finish();
    out.put(after);
    out.flush();
    return;
  }
  root["buffers"].push_back(buffer_json);
  std::string json = root.dump();
  while (json.size() % 4) json += ' ';
  const std::size_t padding = (4 - buffer_size % 4) % 4;
  out.put("glTF", 4);
  put_u32(out, 2);
  put_u32(out, static_cast<uint32_t>(12 + 8 + json.size() + 8 + buffer_size + padding));
  put_u32(out, static_cast<uint32_t>(json.size()));
  out.put("JSON", 4);
  out.put(json);
  put_u32(out, static_cast<uint32_t>(buffer_size + padding));
  out.put("BIN\0", 4);
  put_blocks(out);
  out.put("\0\0\0", padding);
  out.flush();
}

void export_bvh(stage::Host& host, int first, int last, double scale, const Export_sink& sink) {
  const Skeleton s = skeleton(host, first, scale);
  const stage::Scene& scene = host.scene();
  const std::size_t n = s.items.size();
  const std::vector<int> kind = bvh_joint_kinds(s, scene);
  // The ROOT: the skeleton's own top joint where the object above it holds just that one.
  std::size_t top = 0;
  for (std::size_t c = 0; c < n; ++c)
    if (kind[c] == bvh_top) top = c;

  // Each joint's offset from its parent, in the parent's (unscaled) frame, on a frame.
  const auto offset = [&](const std::vector<Mat4>& world, std::size_t k) {
    const Vec3 p = stage::translation(world[k]);
    if (k == top || s.parent[k] < 0) return p;
    const Mat4& pw = world[s.parent[k]];
    return mul(sub(p, stage::translation(pw)), transpose(rotation_of(pw)));
  };
  // Which joints move from their first offset: the hierarchy says so (a joint that moves gets
  // position channels), and is written before the frames, which are then written as evaluated.
  // So the frames are evaluated twice, the first time only to find this out.
  Frames sampler(host, s, scale);
  std::vector<char> moves(n, 0);
  moves[top] = 1;
  std::size_t moving = 1;
  for (long long f = static_cast<long long>(first) + 1; f <= last && moving < n; ++f) {
    const std::vector<Mat4>& world = sampler.at(f);
    for (std::size_t k = 0; k < n; ++k) {
      if (moves[k] || norm(sub(offset(world, k), offset(s.first, k))) <= 1e-9 * s.size) continue;
      moves[k] = 1;
      ++moving;
    }
  }

  // The hierarchy, walked with a stack of open joints. Indentation stops deepening past
  // max_indent levels, so that a deep hierarchy's file stays linear in its size.
  constexpr std::size_t max_indent = 64;
  std::string out = "HIERARCHY\n";
  char line[256];
  const auto triple = [&](const char* format, const Vec3& v) {
    std::snprintf(line, sizeof line, format, v[0], v[1], v[2]);
    return std::string(line);
  };
  const auto end_site = [&](const std::string& pad, const Vec3& e) {
    out += pad + "\tEnd Site\n" + pad + "\t{\n" + pad + "\t\t" +
           triple("OFFSET %.10g %.10g %.10g\n", e) + pad + "\t}\n";
  };
  std::vector<std::string> item_names;
  for (const LWItemID id : s.items) item_names.push_back(scene.at(id).name);
  const std::vector<std::string> names = bvh_names(item_names);
  std::vector<std::size_t> order;  // joints in the order their channels are written
  struct Open {
    std::size_t k;
    std::size_t next = 0;  // the next child to look at
    bool has_child = false;
  };
  std::vector<Open> open;
  const auto pad_of = [&](std::size_t depth) {
    return std::string(std::min(depth, max_indent), '\t');
  };
  const auto begin_joint = [&](std::size_t k) {
    const std::string pad = pad_of(open.size());
    out += pad + (open.empty() ? "ROOT " : "JOINT ") + names[k] + "\n" + pad + "{\n";
    // A joint with position channels carries its whole offset in them: OFFSET 0, so that
    // readers adding the two (as the format is commonly read) and readers taking the channels
    // alone agree.
    const Vec3 o = moves[k] ? Vec3{0, 0, 0} : offset(s.first, k);
    out += pad + "\t" + triple("OFFSET %.10g %.10g %.10g\n", o);
    out += pad + (moves[k]
                      ? "\tCHANNELS 6 Xposition Yposition Zposition Zrotation Yrotation Xrotation\n"
                      : "\tCHANNELS 3 Zrotation Yrotation Xrotation\n");
    order.push_back(k);
    open.push_back({k});
  };
  begin_joint(top);
  while (!open.empty()) {
    Open& o = open.back();
    const std::string pad = pad_of(open.size() - 1);
    if (o.next < s.children[o.k].size()) {
      const std::size_t c = s.children[o.k][o.next++];
      if (kind[c] == bvh_left_out) continue;
      o.has_child = true;
      if (kind[c] == bvh_end_site)
        end_site(pad, offset(s.first, c));
      else
        begin_joint(c);
      continue;
    }
    if (!o.has_child)
      end_site(pad, mul(sub(s.tip[o.k], stage::translation(s.first[o.k])),
                        transpose(rotation_of(s.first[o.k]))));
    out += pad + "}\n";
    open.pop_back();
  }
  std::snprintf(line, sizeof line, "MOTION\nFrames: %lld\nFrame Time: %.10g\n",
                static_cast<long long>(last) - first + 1, 1 / s.fps);
  out += line;
  Chunks chunks(sink);
  chunks.put(out);
  out = std::string();
  std::string row;
  for (long long f = first; f <= last; ++f) {
    const std::vector<Mat4>& world = sampler.at(f);
    row.clear();
    for (const std::size_t k : order) {
      const Mat3 r = rotation_of(world[k]);
      const Mat3 local =
          k == top || s.parent[k] < 0 ? r : r * transpose(rotation_of(world[s.parent[k]]));
      const Vec3 a = zyx_angles(transpose(local));
      if (moves[k]) row += triple("%.10g %.10g %.10g ", offset(world, k));
      row += triple("%.10g %.10g %.10g ",
                    {stage::rad_to_deg(a[0]), stage::rad_to_deg(a[1]), stage::rad_to_deg(a[2])});
    }
    row.back() = '\n';
    chunks.put(row);
  }
  chunks.flush();
}

std::string export_gltf(stage::Host& host, int first, int last, bool binary, double scale) {
  std::string out;
  export_gltf(host, first, last, binary, scale, [&out](const std::string& piece) { out += piece; });
  return out;
}

std::string export_bvh(stage::Host& host, int first, int last, double scale) {
  std::string out;
  export_bvh(host, first, last, scale, [&out](const std::string& piece) { out += piece; });
  return out;
}

}  // namespace formats
