#include "stage/formats/import.h"

#include <unistd.h>

#include <assimp/scene.h>
#include <algorithm>
#include <assimp/Importer.hpp>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <vector>

#include "stage/error.h"
#include "stage/formats/anim_sample.h"
#include "stage/formats/frame_math.h"

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
  int parent = -1;  // index in the joint list; -1 for the skeleton's top joint
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

// Every node on the path from the scene's top to `node`, top first.
std::vector<const aiNode*> path_to(const aiNode* node) {
  std::vector<const aiNode*> path;
  for (; node; node = node->mParent) path.push_back(node);
  std::reverse(path.begin(), path.end());
  return path;
}

// The deepest node that holds every node of the set in its subtree (itself included).
const aiNode* common_ancestor(const std::vector<const aiNode*>& nodes) {
  std::vector<const aiNode*> common = path_to(nodes.front());
  for (const aiNode* n : nodes) {
    const std::vector<const aiNode*> p = path_to(n);
    std::size_t k = 0;
    while (k < common.size() && k < p.size() && common[k] == p[k]) ++k;
    common.resize(k);
  }
  return common.empty() ? nullptr : common.back();
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
  Builder(const std::string& path, const Import_options& options)
      : path_(path), options_(options) {}

  stage::Scene_record build() {
    check_readable();
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path_, 0);
    if (scene == nullptr || scene->mRootNode == nullptr) {
      std::string why = importer.GetErrorString();
      if (why.empty()) why = "not a file assimp reads";
      fail("cannot import: " + why);
    }
    anim_ = chosen_animation(*scene, options_.animation, path_);
    find_joints(*scene);
    measure_rest();
    return scene_record();
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
  // meshes use as bones, less nodes that only carry meshes.
  void find_joints(const aiScene& scene) {
    std::vector<const aiNode*> marked;
    std::map<const aiNode*, const aiNodeAnim*> channels;
    for (unsigned c = 0; c < anim_->mNumChannels; ++c) {
      const aiNodeAnim* ch = anim_->mChannels[c];
      const aiNode* n = scene.mRootNode->FindNode(ch->mNodeName);
      if (n == nullptr) continue;
      channels[n] = ch;
      marked.push_back(n);
    }
    for (unsigned m = 0; m < scene.mNumMeshes; ++m)
      for (unsigned b = 0; b < scene.mMeshes[m]->mNumBones; ++b)
        if (const aiNode* n = scene.mRootNode->FindNode(scene.mMeshes[m]->mBones[b]->mName))
          marked.push_back(n);
    if (channels.empty()) fail("no skeleton: the animation keys no node of the file");
    const aiNode* top = common_ancestor(marked);
    const std::set<const aiNode*> used(marked.begin(), marked.end());
    add_joint(top, -1, channels, used);
    if (joints_.size() < 2)
      fail("no skeleton: the animated node \"" + std::string(top->mName.C_Str()) +
           "\" has no joints below it");
  }

  void add_joint(const aiNode* node, int parent,
                 const std::map<const aiNode*, const aiNodeAnim*>& ch,
                 const std::set<const aiNode*>& used) {
    if (parent >= 0 && node->mNumMeshes > 0 && used.count(node) == 0) return;
    const int index = static_cast<int>(joints_.size());
    Joint j;
    j.node = node;
    const auto it = ch.find(node);
    j.channel = it == ch.end() ? nullptr : it->second;
    j.parent = parent;
    j.rest = host_matrix(node_local(*node, nullptr, 0), options_.scale);
    joints_.push_back(j);
    if (parent >= 0) joints_[parent].children.push_back(index);
    for (unsigned c = 0; c < node->mNumChildren; ++c)
      add_joint(node->mChildren[c], index, ch, used);
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
      fail("joint \"" + std::string(joints_[i].node->mName.C_Str()) +
           "\": its transform shears, which a bone's scaling and rotation cannot hold");
    return c;
  }

  stage::Scene_record scene_record() {
    const double tps = anim_->mTicksPerSecond > 0 ? anim_->mTicksPerSecond : 25.0;
    Frame_rate rate{options_.fps, false};
    if (!(options_.fps > 0)) rate = file_rate(*anim_, tps);
    const double fps = rate.fps;
    const auto ticks = [&](int frame) { return rate.on_ticks ? frame : frame / fps * tps; };
    const double frames = rate.on_ticks ? anim_->mDuration : anim_->mDuration / tps * fps;
    const int last_frame = static_cast<int>(std::min(std::round(frames - 1e-9), 1e7));
    int first = 0, last = last_frame;
    if (options_.has_frames) {
      if (options_.first < 0 || options_.last > last_frame || options_.first > options_.last)
        fail("frames " + std::to_string(options_.first) + "-" + std::to_string(options_.last) +
             " are outside the clip's frames 0-" + std::to_string(last_frame));
      first = options_.first;
      last = options_.last;
    }

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
    if (!split_channels(host_matrix(above, options_.scale), oc))
      fail("the nodes above the skeleton shear, which an object's channels cannot hold");
    object.channels[stage::ch_position].value = oc.position;
    object.channels[stage::ch_rotation].value = oc.hpb;
    object.channels[stage::ch_scaling].value = oc.scale;
    rec.items.push_back(object);

    for (std::size_t i = 0; i < joints_.size(); ++i) {
      const Joint& j = joints_[i];
      stage::Item_record r = stage::item_record(static_cast<uint32_t>(i + 2),
                                                stage::Item_type::bone, j.node->mName.C_Str());
      r.owner = 1;
      if (j.parent >= 0) r.parent = static_cast<uint32_t>(j.parent + 2);
      const Channels rest = split(i, bone_local(i, j.rest));
      r.rest_position = rest.position;
      r.rest_rotation = rest.hpb;
      r.rest_length = j.length;
      std::vector<stage::Key> pos, rot, scl;
      Vec3 previous = rest.hpb;
      for (int f = first; f <= last; ++f) {
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
  const aiAnimation* anim_ = nullptr;
  std::vector<Joint> joints_;
  double size_ = 1;
};

}  // namespace

stage::Scene_record import_motion(const std::string& path, const Import_options& options) {
  return Builder(path, options).build();
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
  const std::function<void(uint32_t, int)> tree = [&](uint32_t id, int depth) {
    for (const stage::Item_record* r : children[id]) {
      out += std::string(2 * depth, ' ') + r->name + "\n";
      tree(r->id, depth + 1);
    }
  };
  for (const stage::Item_record& r : scene.items) {
    if (r.type != stage::Item_type::object || r.parent != 0 || children[r.id].empty()) continue;
    const auto joints = std::count_if(scene.items.begin(), scene.items.end(),
                                      [&](const stage::Item_record& b) { return b.owner == r.id; });
    out += "skeleton \"" + r.name + "\": " + std::to_string(joints) + " joints\n";
    tree(r.id, 1);
  }
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
