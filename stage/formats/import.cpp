#include "stage/formats/import.h"

#include <unistd.h>

#include <assimp/config.h>
#include <assimp/scene.h>
#include <limits.h>
#include <algorithm>
#include <assimp/Importer.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "stage/error.h"
#include "stage/formats/anim_sample.h"
#include "stage/formats/file_limits.h"
#include "stage/formats/frame_math.h"
#include "stage/formats/skinned_mesh.h"

namespace formats {

namespace {

using stage::Error;

// The host's row-form, left-handed transform of an assimp (column-form, right-handed) matrix,
// its translation multiplied by `scale`.
Mat4 host_matrix(const Matrix& m, double scale) {
  Mat4 r{};
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) r.m[i][j] = m[j][i];
  for (int j = 0; j < 3; ++j) r.m[3][j] *= scale;
  return mirror_z(r);
}

struct Joint {
  const aiNode* node = nullptr;
  const aiNodeAnim* channel = nullptr;
  std::string name;  // the node's name, made unique among the joints
  int parent = -1;   // index in the joint list; -1 for the skeleton's top joint
  std::vector<int> children;
  Mat4 rest{};   // host local transform at rest (the node's own transform)
  Mat3 align{};  // bone frame = align * node frame: +Z towards the child
  double length = 0;
};

std::string file_stem(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Every node below `top` (itself first), parents before children and children in file order,
// walked without recursion. Throws through `too_deep` for a hierarchy deeper than the import
// reads.
struct Node_list {
  std::vector<const aiNode*> nodes;
  std::vector<int> parent;  // index in nodes; -1 for the top
};

template <class Too_deep>
Node_list walk_nodes(const aiNode* top, Too_deep too_deep) {
  Node_list list;
  std::vector<std::pair<const aiNode*, int>> stack{{top, -1}};
  std::vector<int> depth;
  while (!stack.empty()) {
    const auto [node, parent] = stack.back();
    stack.pop_back();
    const int d = parent < 0 ? 1 : depth[parent] + 1;
    if (d > max_hierarchy_depth) too_deep(d);
    const int index = static_cast<int>(list.nodes.size());
    list.nodes.push_back(node);
    list.parent.push_back(parent);
    depth.push_back(d);
    for (unsigned c = node->mNumChildren; c-- > 0;) stack.push_back({node->mChildren[c], index});
  }
  return list;
}

// The deepest node that holds every marked node in its subtree (itself included): the number of
// marked nodes in each subtree, then down from the top while one child holds them all.
int common_ancestor(const Node_list& list, const std::vector<char>& marked) {
  const std::size_t n = list.nodes.size();
  std::vector<std::size_t> below(n, 0);
  for (std::size_t i = n; i-- > 0;) {
    below[i] += marked[i] ? 1 : 0;
    if (list.parent[i] >= 0) below[list.parent[i]] += below[i];
  }
  std::vector<std::vector<int>> children(n);
  for (std::size_t i = 1; i < n; ++i) children[list.parent[i]].push_back(static_cast<int>(i));
  int at = 0;
  for (bool down = true; down && !marked[at];) {
    down = false;
    for (const int c : children[at])
      if (below[c] == below[0]) {
        at = c;
        down = true;
        break;
      }
  }
  return at;
}

// The file's frame rate. When every key lies on a whole tick, frames are ticks and the rate is the
// tick rate (rounded to a whole number when within a few parts per million of one: BVH files
// write 1/120 s as 0.0083333). Otherwise the rate of the closest two keys, rounded, or 30 frames
// per second for keys sparser than 24 a second.
struct Frame_rate {
  double fps = 30;
  bool on_ticks = false;
};

Frame_rate file_rate(const aiAnimation& anim, double tps) {
  bool whole = true;
  double gap = 0;
  const auto visit = [&](double t, double previous, bool has_previous) {
    if (std::fabs(t - std::round(t)) > 1e-6) whole = false;
    if (has_previous && t - previous > 1e-9 && (gap == 0 || t - previous < gap)) gap = t - previous;
  };
  for (unsigned c = 0; c < anim.mNumChannels; ++c) {
    const aiNodeAnim& ch = *anim.mChannels[c];
    for (unsigned k = 0; k < ch.mNumPositionKeys; ++k)
      visit(ch.mPositionKeys[k].mTime, k ? ch.mPositionKeys[k - 1].mTime : 0, k > 0);
    for (unsigned k = 0; k < ch.mNumRotationKeys; ++k)
      visit(ch.mRotationKeys[k].mTime, k ? ch.mRotationKeys[k - 1].mTime : 0, k > 0);
    for (unsigned k = 0; k < ch.mNumScalingKeys; ++k)
      visit(ch.mScalingKeys[k].mTime, k ? ch.mScalingKeys[k - 1].mTime : 0, k > 0);
  }
  if (whole && tps <= 240) {
    const double r = std::round(tps);
    return {std::fabs(tps - r) <= 1e-5 * tps ? r : tps, true};
  }
  // Sparse keys (a few a second) are sampled at 30 frames per second between them.
  const double keyed = gap > 0 ? std::round(tps / gap) : 0;
  return {keyed >= 24 ? keyed : 30, false};
}

std::string animation_name(const aiAnimation& a, unsigned index) {
  return a.mName.length ? a.mName.C_Str() : "#" + std::to_string(index);
}

// The animation --animation NAME|INDEX names (the first without one), with keyed nodes.
const aiAnimation* chosen_animation(const aiScene& scene, const std::string& wanted,
                                    const std::string& path) {
  const auto fail = [&](const std::string& what) { throw Error(path + ": " + what); };
  if (scene.mNumAnimations == 0)
    fail("no animation in the file (a skeleton needs keyed joints to be imported)");
  unsigned index = 0;
  if (!wanted.empty()) {
    index = scene.mNumAnimations;
    for (unsigned i = 0; i < scene.mNumAnimations; ++i)
      if (wanted == scene.mAnimations[i]->mName.C_Str()) index = i;
    const bool digits = wanted.find_first_not_of("0123456789") == std::string::npos;
    if (index == scene.mNumAnimations && digits && wanted.size() < 9)
      index = static_cast<unsigned>(std::stoul(wanted));
    if (index >= scene.mNumAnimations) {
      std::string names;
      for (unsigned i = 0; i < scene.mNumAnimations; ++i)
        names += (i ? ", " : "") + std::to_string(i) + " \"" +
                 animation_name(*scene.mAnimations[i], i) + "\"";
      fail("--animation " + wanted + ": no such animation (the file has " + names + ")");
    }
  }
  if (scene.mAnimations[index]->mNumChannels == 0)
    fail("no animation in the file (a skeleton needs keyed joints to be imported)");
  return scene.mAnimations[index];
}

class Builder {
 public:
  Builder(const std::string& path, const Import_options& options,
          std::vector<std::string>* warnings)
      : path_(path), options_(options), warnings_(warnings) {}

  stage::Scene_record build() {
    check_readable();
    check_motion_file(path_);
    Assimp::Importer importer;
    // No stand-in mesh of the skeleton (BVH and a few other readers build one): it is not used,
    // and building it costs more than the whole import.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    const aiScene* scene = importer.ReadFile(path_, 0);
    if (scene == nullptr || scene->mRootNode == nullptr) {
      std::string why = importer.GetErrorString();
      if (why.empty()) why = "not a file assimp reads";
      fail("cannot import: " + why);
    }
    anim_ = chosen_animation(*scene, options_.animation, path_);
    find_joints(*scene);
    measure_rest();
    stage::Scene_record rec = scene_record();
    rec.meshes = bind_meshes(*scene);
    return rec;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const { throw Error(path_ + ": " + what); }

  void check_readable() const {
    if (access(path_.c_str(), R_OK) != 0) fail(std::string("cannot open: ") + std::strerror(errno));
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) fail(std::string("cannot open: ") + std::strerror(errno));
    char byte;
    const bool empty = std::fread(&byte, 1, 1, f) != 1;
    const bool is_dir = std::ferror(f) != 0;
    std::fclose(f);
    if (is_dir) fail("cannot read (a folder?)");
    if (empty) fail("the file is empty");
  }

  // Joints: every node below the deepest common ancestor of the animated nodes and the nodes that
  // meshes use as bones, less nodes that only carry meshes (and what hangs below them).
  void find_joints(const aiScene& scene) {
    const Node_list all =
        walk_nodes(scene.mRootNode, [this](int depth) { fail(hierarchy_too_deep(depth)); });
    // Nodes by name in file order. Channels naming a name several nodes share go to those nodes
    // in turn, as a BVH file lists them.
    std::unordered_map<std::string, std::vector<int>> by_name;
    for (std::size_t i = 0; i < all.nodes.size(); ++i)
      by_name[all.nodes[i]->mName.C_Str()].push_back(static_cast<int>(i));
    std::unordered_map<std::string, std::size_t> taken;
    std::vector<const aiNodeAnim*> channel(all.nodes.size(), nullptr);
    std::vector<char> marked(all.nodes.size(), 0);
    bool any = false;
    for (unsigned c = 0; c < anim_->mNumChannels; ++c) {
      const aiNodeAnim* ch = anim_->mChannels[c];
      const auto it = by_name.find(ch->mNodeName.C_Str());
      if (it == by_name.end()) continue;
      std::size_t& k = taken[it->first];
      const int node = it->second[std::min(k, it->second.size() - 1)];
      ++k;
      channel[node] = ch;
      marked[node] = 1;
      any = true;
    }
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
      for (unsigned b = 0; b < scene.mMeshes[m]->mNumBones; ++b) {
        const auto it = by_name.find(scene.mMeshes[m]->mBones[b]->mName.C_Str());
        if (it != by_name.end()) marked[it->second.front()] = 1;
      }
    if (!any) fail("no skeleton: the animation keys no node of the file");
    const int top = common_ancestor(all, marked);
    // The nodes below the top, without recursion; a subtree is left out at a mesh-only node.
    std::vector<int> joint_of(all.nodes.size(), -1);
    for (std::size_t i = top; i < all.nodes.size(); ++i) {
      const int p = all.parent[i];
      if (static_cast<int>(i) != top && (p < 0 || joint_of[p] < 0)) continue;
      const aiNode* node = all.nodes[i];
      if (static_cast<int>(i) != top && node->mNumMeshes > 0 && !marked[i]) continue;
      Joint j;
      j.node = node;
      j.channel = channel[i];
      j.parent = static_cast<int>(i) == top ? -1 : joint_of[p];
      j.rest = host_matrix(node_local(*node, nullptr, 0), options_.scale);
      joint_of[i] = static_cast<int>(joints_.size());
      if (j.parent >= 0) joints_[j.parent].children.push_back(joint_of[i]);
      joints_.push_back(j);
    }
    if (joints_.size() < 2)
      fail("no skeleton: the animated node \"" + std::string(all.nodes[top]->mName.C_Str()) +
           "\" has no joints below it");
    name_joints();
  }

  // Each joint's name, made unique: a name that several joints share keeps it on the first and
  // gets "_2", "_3", ... on the others (skipping names already in use), with a warning.
  void name_joints() {
    std::unordered_map<std::string, int> count;
    for (const Joint& j : joints_) ++count[j.node->mName.C_Str()];
    std::unordered_map<std::string, int> next;
    std::vector<std::string> repeated;
    for (Joint& j : joints_) {
      const std::string name = j.node->mName.C_Str();
      int& k = next[name];
      if (++k == 1) {
        j.name = name;
        if (count[name] > 1) repeated.push_back(name);
        continue;
      }
      std::string unique = name + "_" + std::to_string(k);
      while (count.count(unique)) unique = name + "_" + std::to_string(++k);
      count[unique] = 1;
      j.name = unique;
    }
    if (repeated.empty() || warnings_ == nullptr) return;
    std::string list;
    for (std::size_t i = 0; i < repeated.size() && i < 5; ++i)
      list += (i ? ", \"" : "\"") + repeated[i] + "\"";
    if (repeated.size() > 5) list += " and " + std::to_string(repeated.size() - 5) + " more";
    warnings_->push_back(path_ + ": joints share the names " + list +
                         "; the later ones are renamed NAME_2, NAME_3, ...");
  }

  // The bone of each joint points at its child (at the middle of its children); a joint whose
  // children sit on it keeps the direction of its parent's bone with length 0, and an end joint
  // continues its parent's bone with half its length.
  void measure_rest() {
    std::vector<Mat4> world(joints_.size());
    Vec3 lo{}, hi{};
    for (std::size_t i = 0; i < joints_.size(); ++i) {
      const Joint& j = joints_[i];
      world[i] = j.parent < 0 ? j.rest : j.rest * world[j.parent];
      const Vec3 p = stage::translation(world[i]);
      for (int k = 0; k < 3; ++k) {
        lo[k] = i == 0 ? p[k] : std::min(lo[k], p[k]);
        hi[k] = i == 0 ? p[k] : std::max(hi[k], p[k]);
      }
    }
    size_ = norm(sub(hi, lo));
    if (!(size_ > 0)) size_ = 1;
    std::vector<Vec3> dir(joints_.size());
    for (std::size_t i = 0; i < joints_.size(); ++i) {
      Joint& j = joints_[i];
      Vec3 target{};
      for (int c : j.children) target = add(target, stage::translation(joints_[c].rest));
      if (!j.children.empty()) target = scaled(target, 1.0 / j.children.size());
      const double len = norm(target);
      if (len > 1e-9 * size_) {
        dir[i] = scaled(target, 1 / len);
        j.length = len;
      } else if (j.parent >= 0) {
        // The parent's bone direction seen from this joint's frame.
        const Vec3 d = mul(dir[j.parent], linear(inverse(j.rest)));
        dir[i] = norm(d) > 0 ? scaled(d, 1 / norm(d)) : Vec3{0, 0, 1};
        j.length = j.children.empty() ? joints_[j.parent].length / 2 : 0;
      } else {
        dir[i] = {0, 0, 1};
      }
      j.align = frame_with_z(dir[i]);
    }
  }

  // The bone's local transform: align * node local * parent align^-1.
  Mat4 bone_local(std::size_t i, const Mat4& node_local) const {
    const Joint& j = joints_[i];
    const Mat3 parent_align = j.parent < 0 ? stage::identity3() : joints_[j.parent].align;
    return affine(j.align, {0, 0, 0}) * node_local * affine(transpose(parent_align), {0, 0, 0});
  }

  // Files hold their matrices in single precision: rows of a rotation come square to each other
  // only to about 1e-6 and scalings within a few 1e-7 of uniform. A shear below 1e-5 is such
  // noise, dropped (the joints then move by that share of a bone at most); a real one is refused.
  static constexpr double single_precision_shear = 1e-5;

  Channels split(std::size_t i, const Mat4& m) const {
    Channels c;
    if (!split_channels(m, c, single_precision_shear))
      fail("joint \"" + joints_[i].name + "\": " + transform_fault(m));
    return c;
  }

  stage::Scene_record scene_record() {
    // A tick rate of 0 is assimp's "not given".
    const double given_tps = anim_->mTicksPerSecond;
    if (!std::isfinite(given_tps) || given_tps < 0)
      fail("the animation's rate (" + number(given_tps) + " ticks a second) is not a rate");
    const double tps = given_tps > 0 ? given_tps : 25.0;
    Frame_rate rate{options_.fps, false};
    if (!(options_.fps > 0)) rate = file_rate(*anim_, tps);
    const double fps = rate.fps;
    const auto ticks = [&](long long frame) { return rate.on_ticks ? frame : frame / fps * tps; };
    const double frames = rate.on_ticks ? anim_->mDuration : anim_->mDuration / tps * fps;
    const int last_frame = clip_last_frame(frames);
    int first = 0, last = last_frame;
    if (options_.has_frames) {
      if (options_.first < 0 || options_.last > last_frame || options_.first > options_.last)
        fail("frames " + std::to_string(options_.first) + "-" + std::to_string(options_.last) +
             " are outside the clip's frames 0-" + std::to_string(last_frame));
      first = options_.first;
      last = options_.last;
    }
    check_samples(static_cast<long long>(last) - first + 1);

    stage::Scene_record rec;
    rec.fps = fps;
    rec.frame_start = first;
    rec.frame_end = last;
    char line[256];
    std::snprintf(line, sizeof line, "%s: %zu joints, frames %d-%d at %g frames per second",
                  file_stem(path_).c_str(), joints_.size(), first, last, fps);
    rec.description = std::string("Imported from ") + line;

    // The object holding the skeleton stands where the skeleton's parent nodes put it.
    stage::Item_record object = stage::item_record(1, stage::Item_type::object, file_stem(path_));
    Matrix above;
    for (const aiNode* n = joints_.front().node->mParent; n; n = n->mParent)
      above = node_local(*n, nullptr, 0) * above;
    Channels oc;
    const Mat4 object_local = host_matrix(above, options_.scale);
    if (!split_channels(object_local, oc))
      fail("the nodes above the skeleton: " + transform_fault(object_local));
    object.channels[stage::ch_position].value = oc.position;
    object.channels[stage::ch_rotation].value = oc.hpb;
    object.channels[stage::ch_scaling].value = oc.scale;
    rec.items.push_back(object);

    for (std::size_t i = 0; i < joints_.size(); ++i) {
      const Joint& j = joints_[i];
      stage::Item_record r =
          stage::item_record(static_cast<uint32_t>(i + 2), stage::Item_type::bone, j.name);
      r.owner = 1;
      if (j.parent >= 0) r.parent = static_cast<uint32_t>(j.parent + 2);
      const Channels rest = split(i, bone_local(i, j.rest));
      r.rest_position = rest.position;
      r.rest_rotation = rest.hpb;
      r.rest_length = j.length;
      std::vector<stage::Key> pos, rot, scl;
      Vec3 previous = rest.hpb;
      for (long long f = first; f <= last; ++f) {
        const double t = f / fps;
        const Mat4 node = host_matrix(node_local(*j.node, j.channel, ticks(f)), options_.scale);
        Channels c = split(i, bone_local(i, node));
        c.hpb = nearest_turn(c.hpb, previous);
        previous = c.hpb;
        pos.push_back({t, c.position});
        rot.push_back({t, c.hpb});
        scl.push_back({t, c.scale});
      }
      set_channel(r.channels[stage::ch_position], pos, i == 0, 1e-12 * size_);
      set_channel(r.channels[stage::ch_rotation], rot, true, 0);
      set_channel(r.channels[stage::ch_scaling], scl, false, 1e-12);
      rec.items.push_back(std::move(r));
    }
    return rec;
  }

  // The skinned meshes whose bones are all joints, each with where its bones stood when it was
  // bound (the inverse of its bone's offset matrix, from the mesh's own coordinates, taken
  // through the mesh node's rest transform to the world) in the bones' frames. Meshes without
  // bones are left out, and so are meshes with a bone that is no joint, with a warning.
  std::vector<stage::Mesh_binding> bind_meshes(const aiScene& scene) {
    std::vector<stage::Mesh_binding> out;
    std::unordered_map<std::string, std::size_t> joint_named;  // node name -> first joint
    for (std::size_t i = joints_.size(); i-- > 0;) joint_named[joints_[i].node->mName.C_Str()] = i;
    // Each mesh's first node, in file order.
    std::vector<const aiNode*> node_of(scene.mNumMeshes, nullptr);
    const Node_list all = walk_nodes(scene.mRootNode, [](int) {});
    for (const aiNode* node : all.nodes)
      for (unsigned k = 0; k < node->mNumMeshes; ++k)
        if (node->mMeshes[k] < scene.mNumMeshes && node_of[node->mMeshes[k]] == nullptr)
          node_of[node->mMeshes[k]] = node;
    char resolved[PATH_MAX];
    const std::string source = realpath(path_.c_str(), resolved) ? resolved : path_;
    long long vertices = 0;
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
      const aiMesh& mesh = *scene.mMeshes[m];
      if (mesh.mNumBones == 0 || node_of[m] == nullptr) continue;
      check_mesh(mesh, path_);
      vertices += mesh.mNumVertices;
      if (vertices > stage::max_mesh_vertices)
        fail("the skinned meshes hold more than " + std::to_string(stage::max_mesh_vertices) +
             " vertices together");
      Matrix placed;
      for (const aiNode* n = node_of[m]; n; n = n->mParent)
        placed = to_double(n->mTransformation) * placed;
      stage::Mesh_binding b;
      b.source = source;
      b.mesh = m;
      b.name = mesh.mName.C_Str();
      b.vertices = mesh.mNumVertices;
      b.checksum = vertex_checksum(mesh);
      b.placement = stage::identity4();
      for (int c = 0; c < 3; ++c) b.placement.m[c][c] = c == 2 ? -options_.scale : options_.scale;
      b.placement = b.placement * host_matrix(placed, options_.scale);
      std::string missing;
      for (unsigned k = 0; k < mesh.mNumBones && missing.empty(); ++k) {
        const aiBone& bone = *mesh.mBones[k];
        const auto it = joint_named.find(bone.mName.C_Str());
        if (it == joint_named.end()) {
          missing = bone.mName.C_Str();
          break;
        }
        const Matrix offset = to_double(bone.mOffsetMatrix);
        const double det = offset.Determinant();
        if (!std::isfinite(det) || std::fabs(det) < 1e-300)
          fail("mesh \"" + b.name + "\": bone \"" + bone.mName.C_Str() + "\": its offset matrix " +
               (std::isfinite(det) ? "cannot be inverted" : "is not finite (nan or inf)"));
        // The bone's world at bind: the mesh's placement less the offset, in the bone's frame.
        Matrix bind = offset;
        bind.Inverse();
        bind = placed * bind;
        b.bones.push_back({joints_[it->second].name, affine(joints_[it->second].align, {0, 0, 0}) *
                                                         host_matrix(bind, options_.scale)});
      }
      if (!missing.empty()) {
        if (warnings_)
          warnings_->push_back(path_ + ": mesh \"" + b.name + "\" is left out: its bone \"" +
                               missing + "\" is not a joint of the skeleton");
        continue;
      }
      out.push_back(std::move(b));
    }
    return out;
  }

  // The clip's last frame (its first is 0) from its length in frames, refused when the file's
  // times make it no length or more frames than a scene holds.
  int clip_last_frame(double frames) const {
    if (!std::isfinite(frames) || frames < 0)
      fail("the clip's length (" + number(frames) + " frames) is not a length");
    if (std::round(frames - 1e-9) + 1 > stage::max_scene_frames)
      fail("the clip spans " + number(std::round(frames - 1e-9) + 1) +
           " frames; a scene holds at most " + std::to_string(stage::max_scene_frames) +
           " (its keys lie far apart: give a lower --fps)");
    return static_cast<int>(std::round(frames - 1e-9));
  }

  void check_samples(long long frames) const {
    const long long samples = frames * static_cast<long long>(joints_.size());
    if (samples <= max_import_samples) return;
    fail(std::to_string(joints_.size()) + " joints over " + std::to_string(frames) +
         " frames are " + std::to_string(samples) + " joint frames; an import holds at most " +
         std::to_string(max_import_samples) + " (keep fewer with --frames)");
  }

  static std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
  }

  // Keys on every frame, or one constant value when the keys never move from the first.
  static void set_channel(stage::Channel& channel, std::vector<stage::Key>& keys, bool always,
                          double tolerance) {
    bool moves = always;
    for (const stage::Key& k : keys)
      for (int c = 0; c < 3 && !moves; ++c)
        if (std::fabs(k.value[c] - keys.front().value[c]) > tolerance) moves = true;
    channel.value = keys.front().value;
    if (moves) channel.keys = std::move(keys);
  }

  std::string path_;
  Import_options options_;
  std::vector<std::string>* warnings_;
  const aiAnimation* anim_ = nullptr;
  std::vector<Joint> joints_;
  double size_ = 1;
};

}  // namespace

stage::Scene_record import_motion(const std::string& path, const Import_options& options,
                                  std::vector<std::string>* warnings) {
  return Builder(path, options, warnings).build();
}

std::string list_motion_file(const std::string& path, const Import_options& options) {
  const stage::Scene_record scene = import_motion(path, options);
  Assimp::Importer importer;
  const aiScene* file = importer.ReadFile(path, 0);
  std::string out;
  // The skeleton: each object with its bones as a tree, two spaces a level.
  std::map<uint32_t, std::vector<const stage::Item_record*>> children;
  for (const stage::Item_record& r : scene.items)
    children[r.type == stage::Item_type::bone && r.parent == 0 ? r.owner : r.parent].push_back(&r);
  // Each item's children in file order, below it, walked with a stack rather than by recursion.
  const auto tree = [&](uint32_t top, int depth) {
    std::vector<std::pair<const stage::Item_record*, int>> stack;
    const auto push_children = [&](uint32_t id, int d) {
      const std::vector<const stage::Item_record*>& c = children[id];
      for (auto it = c.rbegin(); it != c.rend(); ++it) stack.push_back({*it, d});
    };
    push_children(top, depth);
    while (!stack.empty()) {
      const auto [r, d] = stack.back();
      stack.pop_back();
      out += std::string(2 * d, ' ') + r->name + "\n";
      push_children(r->id, d + 1);
    }
  };
  for (const stage::Item_record& r : scene.items) {
    if (r.type != stage::Item_type::object || r.parent != 0 || children[r.id].empty()) continue;
    const auto joints = std::count_if(scene.items.begin(), scene.items.end(),
                                      [&](const stage::Item_record& b) { return b.owner == r.id; });
    out += "skeleton \"" + r.name + "\": " + std::to_string(joints) + " joints\n";
    tree(r.id, 1);
  }
  if (!scene.meshes.empty()) out += "skinned meshes:\n";
  for (const stage::Mesh_binding& m : scene.meshes)
    out += "  \"" + m.name + "\": " + std::to_string(m.vertices) + " vertices, " +
           std::to_string(m.bones.size()) + " bones\n";
  out += "animations:\n";
  for (unsigned i = 0; file && i < file->mNumAnimations; ++i) {
    const aiAnimation& a = *file->mAnimations[i];
    const double tps = a.mTicksPerSecond > 0 ? a.mTicksPerSecond : 25;
    char line[200];
    std::snprintf(line, sizeof line, "  %u \"%s\": %u keyed nodes, %.4g s\n", i,
                  animation_name(a, i).c_str(), a.mNumChannels, a.mDuration / tps);
    out += line;
  }
  return out;
}

}  // namespace formats
