#include "stage/formats/file_limits.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "stage/error.h"
#include "stage/scene_file.h"

namespace formats {

namespace {

using stage::Error;

struct File_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, File_closer>;

// Whitespace-separated words of a file, read in blocks; a word longer than a name can be is cut
// (only its start is ever compared).
class Words {
 public:
  explicit Words(std::FILE* f) : f_(f) {}
  bool next(std::string& word) {
    word.clear();
    int c;
    while ((c = get()) != EOF && std::isspace(c)) {
    }
    if (c == EOF) return false;
    for (; c != EOF && !std::isspace(c); c = get())
      if (word.size() < 64) word += static_cast<char>(c);
    return true;
  }

 private:
  int get() {
    if (pos_ == len_) {
      len_ = std::fread(buf_, 1, sizeof buf_, f_);
      pos_ = 0;
      if (len_ == 0) return EOF;
    }
    return static_cast<unsigned char>(buf_[pos_++]);
  }
  std::FILE* f_;
  char buf_[65536];
  std::size_t pos_ = 0, len_ = 0;
};

[[noreturn]] void fail(const std::string& path, const std::string& what) {
  throw Error(path + ": " + what);
}

// Tokens of a text .X file: braces, ';' and ',' one a token, a quoted string as one token (its
// quotes kept), other runs of characters (names, numbers) as words; comments ('#' or "//" to the
// end of the line) left out.
class X_tokens {
 public:
  explicit X_tokens(std::FILE* f) : f_(f) {}
  bool next(std::string& token) {
    token.clear();
    int c = get();
    for (;;) {
      while (c != EOF && std::isspace(c)) c = get();
      if (c == '#' || (c == '/' && peek() == '/')) {
        while (c != EOF && c != '\n') c = get();
        continue;
      }
      break;
    }
    if (c == EOF) return false;
    token += static_cast<char>(c);
    if (c == '{' || c == '}' || c == ';' || c == ',') return true;
    if (c == '"') {
      while ((c = get()) != EOF && c != '"')
        if (token.size() < 64) token += static_cast<char>(c);
      token += '"';
      return true;
    }
    while ((c = peek()) != EOF && !std::isspace(c) && !std::strchr("{};,\"#", c)) {
      get();
      if (token.size() < 64) token += static_cast<char>(c);
    }
    return true;
  }

 private:
  int peek() {
    if (pos_ == len_) {
      len_ = std::fread(buf_, 1, sizeof buf_, f_);
      pos_ = 0;
      if (len_ == 0) return EOF;
    }
    return static_cast<unsigned char>(buf_[pos_]);
  }
  int get() {
    const int c = peek();
    if (c != EOF) ++pos_;
    return c;
  }
  std::FILE* f_;
  char buf_[65536];
  std::size_t pos_ = 0, len_ = 0;
};

// A text .X file's skin weights name vertices of their mesh: assimp's reader writes through a
// vertex index it does not check. Each Mesh block's first number is its vertex count; each
// SkinWeights block in it holds its bone's name, a count and that many vertex indices.
void check_x_skin_weights(const std::string& path, std::FILE* f) {
  struct Block {
    std::string type;
    long long vertices = -1;  // Mesh: its vertex count, once read
    int state = 0;            // SkinWeights: 0 before the count, 1 reading indices, 2 done
    long long left = 0;       // SkinWeights: indices still to read
  };
  std::vector<Block> open;
  std::vector<std::string> words;  // since the last '{', '}' or ';'
  X_tokens tokens(f);
  std::string t;
  while (tokens.next(t)) {
    if (t == "{") {
      if (open.size() >= static_cast<std::size_t>(max_hierarchy_depth))
        fail(path, hierarchy_too_deep(static_cast<int>(open.size()) + 1));
      open.push_back({words.empty() ? "" : words.front()});
      words.clear();
      continue;
    }
    if (t == "}") {
      if (!open.empty()) open.pop_back();
      words.clear();
      continue;
    }
    if (t == ";" || t == ",") {
      words.clear();
      continue;
    }
    words.push_back(t);
    if (open.empty() || t[0] == '"') continue;
    const bool number = std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-';
    if (!number) continue;
    Block& b = open.back();
    if (b.type == "Mesh" && b.vertices < 0) {
      b.vertices = std::strtoll(t.c_str(), nullptr, 10);
    } else if (b.type == "SkinWeights" && b.state < 2) {
      const long long v = std::strtoll(t.c_str(), nullptr, 10);
      if (b.state == 0) {
        b.left = v;
        b.state = v > 0 ? 1 : 2;
        continue;
      }
      const Block* mesh = open.size() >= 2 ? &open[open.size() - 2] : nullptr;
      if (mesh && mesh->type == "Mesh" && (v < 0 || v >= mesh->vertices))
        fail(path, "skin weights name vertex " + t + " of a mesh of " +
                       std::to_string(mesh->vertices) + " vertices");
      if (--b.left == 0) b.state = 2;
    }
  }
}

void check_bvh(const std::string& path, std::FILE* f) {
  auto words = std::make_unique<Words>(f);
  std::string w;
  int depth = 0;
  while (words->next(w) && w != "MOTION") {
    if (w == "{" && ++depth > max_hierarchy_depth) fail(path, hierarchy_too_deep(depth));
    if (w == "}") --depth;
  }
  if (w != "MOTION") return;  // no motion: assimp says what is wrong
  std::string frames, time;
  if (!words->next(w) || w != "Frames:" || !words->next(frames)) return;
  if (!words->next(w) || w != "Frame" || !words->next(w) || w != "Time:" || !words->next(time))
    return;
  // Frames: a whole number of frames the file then holds, one line each.
  const bool digits = !frames.empty() && frames.size() <= 9 &&
                      frames.find_first_not_of("0123456789") == std::string::npos;
  const long count = digits ? std::strtol(frames.c_str(), nullptr, 10) : -1;
  if (count < 1 || count > stage::max_scene_frames)
    fail(path, "\"Frames: " + frames + "\": expected a whole number of frames from 1 to " +
                   std::to_string(stage::max_scene_frames));
  char* end = nullptr;
  const double seconds = std::strtod(time.c_str(), &end);
  if (end == time.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds < min_frame_time)
    fail(path, "\"Frame Time: " + time + "\": expected a time in seconds, at least 1e-06");
}

// The node tree of a glTF document: at most max_hierarchy_depth deep, each node with at most one
// parent and reached from a top node (no cycle).
void check_gltf_nodes(const std::string& path, const nlohmann::json& doc) {
  if (!doc.is_object() || !doc.contains("nodes") || !doc["nodes"].is_array()) return;
  const nlohmann::json& nodes = doc["nodes"];
  const std::size_t n = nodes.size();
  std::vector<std::vector<std::size_t>> children(n);
  std::vector<int> parents(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    if (!nodes[i].is_object() || !nodes[i].contains("children")) continue;
    const nlohmann::json& c = nodes[i]["children"];
    if (!c.is_array()) continue;
    for (const nlohmann::json& k : c) {
      if (!k.is_number_unsigned() || k.get<uint64_t>() >= n) continue;  // assimp refuses it
      const std::size_t child = k.get<std::size_t>();
      if (++parents[child] > 1)
        fail(path, "glTF node " + std::to_string(child) + " has more than one parent");
      children[i].push_back(child);
    }
  }
  std::vector<char> reached(n, 0);
  std::vector<std::pair<std::size_t, int>> stack;
  for (std::size_t i = 0; i < n; ++i)
    if (parents[i] == 0) stack.push_back({i, 1});
  while (!stack.empty()) {
    const auto [node, depth] = stack.back();
    stack.pop_back();
    if (depth > max_hierarchy_depth) fail(path, hierarchy_too_deep(depth));
    reached[node] = 1;
    for (const std::size_t c : children[node]) stack.push_back({c, depth + 1});
  }
  for (std::size_t i = 0; i < n; ++i)
    if (!reached[i]) fail(path, "glTF node " + std::to_string(i) + " is its own ancestor");
}

// Why a glTF file's URI of a buffer or an image may not be read, or nullptr when it may: it must
// hold the data itself (data:) or name a file in the glTF file's folder or below it. A URI that
// is absolute, names a scheme or climbs out of the folder would have the import read any file
// the user can, chosen by whoever wrote the glTF file. Percent escapes are decoded and a backslash
// taken as '/' first, as some readers do.
const char* uri_fault(const std::string& uri) {
  if (uri.rfind("data:", 0) == 0) return nullptr;
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '%' && i + 2 < uri.size() &&
        std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
      path += static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += uri[i] == '\\' ? '/' : uri[i];
    }
  }
  if (!path.empty() && path[0] == '/') return "it is an absolute path";
  const std::size_t colon = path.find(':'), slash = path.find('/');
  if (colon != std::string::npos && (slash == std::string::npos || colon < slash))
    return "it names a scheme or a drive (only data: URIs and relative paths are read)";
  long depth = 0;
  for (std::size_t at = 0; at <= path.size();) {
    std::size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(at, end - at);
    if (part == "..") {
      if (--depth < 0) return "it climbs out of the glTF file's folder";
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    at = end + 1;
  }
  return nullptr;
}

// The URIs of a glTF document's buffers and images (arrays in glTF 2, objects by name in glTF 1).
void check_gltf_uris(const std::string& path, const nlohmann::json& doc) {
  if (!doc.is_object()) return;
  for (const char* list : {"buffers", "images", "shaders"}) {
    const auto it = doc.find(list);
    if (it == doc.end() || !(it->is_array() || it->is_object())) continue;
    for (const nlohmann::json& entry : *it) {
      if (!entry.is_object() || !entry.contains("uri") || !entry["uri"].is_string()) continue;
      const std::string& uri = entry["uri"].get_ref<const std::string&>();
      const char* why = uri_fault(uri);
      if (!why) continue;
      // Quoted as JSON (no line break can split the message), and cut when long.
      const std::string shown = nlohmann::json(uri.size() > 200 ? uri.substr(0, 200) + "..." : uri)
                                    .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
      fail(path, "refused to read the URI " + shown + ": " + why);
    }
  }
}

// A glTF count, offset or length: a whole number from 0 to 2^53, or -1 for anything else.
double gltf_size(const nlohmann::json& v) {
  if (!v.is_number()) return -1;
  const double d = v.get<double>();
  return d >= 0 && d <= 9007199254740992.0 && d == std::floor(d) ? d : -1;
}

// Bytes of data a buffer's data: URI holds, or -1 for another URI.
double data_uri_bytes(const std::string& uri) {
  if (uri.rfind("data:", 0) != 0) return -1;
  const std::size_t comma = uri.find(',');
  if (comma == std::string::npos || uri.rfind(";base64", comma) == std::string::npos) return -1;
  std::size_t n = uri.size() - comma - 1;
  std::size_t pad = 0;
  while (pad < 2 && n > pad && uri[uri.size() - 1 - pad] == '=') ++pad;
  return static_cast<double>(n / 4 * 3) - static_cast<double>(pad);
}

// Every accessor of a glTF 2 document reads inside its buffer view, every view inside its buffer,
// and a buffer held in a data: URI holds the bytes it says: assimp reads what these name without
// checking (a skin's inverse bind matrices past the end of their buffer, found by fuzzing).
void check_gltf_accessors(const std::string& path, const nlohmann::json& doc) {
  const auto list = [&](const char* key) {
    const auto it = doc.find(key);
    return it != doc.end() && it->is_array() ? &*it : nullptr;
  };
  const nlohmann::json* accessors = list("accessors");
  const nlohmann::json* views = list("bufferViews");
  const nlohmann::json* buffers = list("buffers");
  const auto field = [](const nlohmann::json& o, const char* key, double otherwise) {
    const auto it = o.find(key);
    return it == o.end() ? otherwise : gltf_size(*it);
  };
  std::vector<double> buffer_bytes;
  if (buffers) {
    for (std::size_t b = 0; b < buffers->size(); ++b) {
      const nlohmann::json& buffer = (*buffers)[b];
      if (!buffer.is_object()) fail(path, "buffer " + std::to_string(b) + " is not an object");
      const double length = field(buffer, "byteLength", -1);
      if (length < 0) fail(path, "buffer " + std::to_string(b) + " has no byte length");
      const auto uri = buffer.find("uri");
      if (uri != buffer.end() && uri->is_string()) {
        const double held = data_uri_bytes(uri->get_ref<const std::string&>());
        if (held >= 0 && held < length)
          fail(path, "buffer " + std::to_string(b) + " holds " + std::to_string(held) +
                         " bytes but says " + std::to_string(length));
      }
      buffer_bytes.push_back(length);
    }
  }
  std::vector<double> view_bytes;
  if (views) {
    for (std::size_t v = 0; v < views->size(); ++v) {
      const nlohmann::json& view = (*views)[v];
      const std::string name = "buffer view " + std::to_string(v);
      if (!view.is_object()) fail(path, name + " is not an object");
      const double b = field(view, "buffer", -1), offset = field(view, "byteOffset", 0),
                   length = field(view, "byteLength", -1);
      if (b < 0 || b >= buffer_bytes.size() || offset < 0 || length < 0 ||
          offset + length > buffer_bytes[static_cast<std::size_t>(b)])
        fail(path, name + " lies outside its buffer");
      view_bytes.push_back(length);
    }
  }
  // A skin without inverse bind matrices (the format's identity) makes assimp read through a null
  // accessor.
  if (const nlohmann::json* skins = list("skins")) {
    for (std::size_t k = 0; k < skins->size(); ++k) {
      const nlohmann::json& skin = (*skins)[k];
      if (!skin.is_object() || !skin.contains("inverseBindMatrices"))
        fail(path, "skin " + std::to_string(k) +
                       " has no inverseBindMatrices (give them, identity matrices if need be)");
    }
  }
  // A primitive without positions makes assimp size its vertices from a count of 0 less 1.
  if (const nlohmann::json* meshes = list("meshes")) {
    for (std::size_t m = 0; m < meshes->size(); ++m) {
      const nlohmann::json& mesh = (*meshes)[m];
      const auto primitives = mesh.is_object() ? mesh.find("primitives") : mesh.end();
      if (!mesh.is_object() || primitives == mesh.end() || !primitives->is_array()) continue;
      for (const nlohmann::json& primitive : *primitives) {
        const auto attributes =
            primitive.is_object() ? primitive.find("attributes") : primitive.end();
        if (!primitive.is_object() || attributes == primitive.end() || !attributes->is_object() ||
            !attributes->contains("POSITION"))
          fail(path, "mesh " + std::to_string(m) + " has a primitive without a POSITION attribute");
      }
    }
  }
  if (!accessors) return;
  for (std::size_t a = 0; a < accessors->size(); ++a) {
    const nlohmann::json& accessor = (*accessors)[a];
    const std::string name = "accessor " + std::to_string(a);
    if (!accessor.is_object()) fail(path, name + " is not an object");
    if (!accessor.contains("bufferView")) continue;  // zeros, or sparse values only
    const double v = field(accessor, "bufferView", -1), offset = field(accessor, "byteOffset", 0),
                 count = field(accessor, "count", -1),
                 component = field(accessor, "componentType", -1);
    const auto type = accessor.find("type");
    static const std::pair<const char*, int> types[] = {{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3},
                                                        {"VEC4", 4},   {"MAT2", 4}, {"MAT3", 9},
                                                        {"MAT4", 16}};
    int components = 0;
    for (const auto& t : types)
      if (type != accessor.end() && type->is_string() && *type == t.first) components = t.second;
    const int bytes = component == 5120 || component == 5121   ? 1
                      : component == 5122 || component == 5123 ? 2
                      : component == 5125 || component == 5126 ? 4
                                                               : 0;
    if (v < 0 || v >= view_bytes.size() || offset < 0 || count < 0 || components == 0 || bytes == 0)
      fail(path, name + " names no buffer view, count, type or component type it can be read with");
    const double element = static_cast<double>(components) * bytes;
    const nlohmann::json& view = (*views)[static_cast<std::size_t>(v)];
    const double stride = field(view, "byteStride", element);
    if (stride < 0) fail(path, name + ": its buffer view's byte stride is not a size");
    if (count > 0 &&
        offset + (count - 1) * stride + element > view_bytes[static_cast<std::size_t>(v)])
      fail(path, name + " reads past the end of its buffer view");
  }
}

uint32_t le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void check_gltf(const std::string& path, std::FILE* f, bool binary) {
  std::string text;
  if (binary) {
    unsigned char head[20];
    if (std::fread(head, 1, sizeof head, f) != sizeof head) return;
    if (std::memcmp(head + 16, "JSON", 4) != 0) return;
    const uint32_t length = le32(head + 12);
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    if (size < 0 || length > static_cast<unsigned long>(size)) return;
    std::fseek(f, 20, SEEK_SET);
    text.resize(length);
    if (std::fread(&text[0], 1, length, f) != length) return;
  } else {
    char buf[65536];
    std::size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, got);
  }
  const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
  text = std::string();
  // What this cannot read (a name that is not UTF-8, say) would pass every check below unseen,
  // while assimp's more lenient reader goes on.
  if (doc.is_discarded()) fail(path, "the glTF document is not valid JSON (UTF-8 text)");
  check_gltf_uris(path, doc);
  check_gltf_nodes(path, doc);
  if (doc.is_object()) check_gltf_accessors(path, doc);
}

}  // namespace

std::string hierarchy_too_deep(int depth) {
  return "the hierarchy is more than " + std::to_string(max_hierarchy_depth) +
         " nodes deep (at least " + std::to_string(depth) + "); an import reads at most " +
         std::to_string(max_hierarchy_depth) + " levels";
}

void check_motion_file(const std::string& path) {
  const File f(std::fopen(path.c_str(), "rb"));
  if (!f) return;  // the importer reports why
  char start[16] = {};
  const std::size_t got = std::fread(start, 1, sizeof start, f.get());
  std::rewind(f.get());
  std::size_t skip = 0;
  while (skip < got && std::isspace(static_cast<unsigned char>(start[skip]))) ++skip;
  const std::string head(start + skip, got - skip);
  if (head.rfind("HIERARCHY", 0) == 0) {
    check_bvh(path, f.get());
  } else if (head.rfind("glTF", 0) == 0) {
    check_gltf(path, f.get(), true);
  } else if (head.rfind("{", 0) == 0) {
    check_gltf(path, f.get(), false);
  } else if (head.rfind("xof ", 0) == 0 && head.compare(8, 3, "txt") == 0) {
    check_x_skin_weights(path, f.get());
  }
}

}  // namespace formats
