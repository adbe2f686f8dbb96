// A scene file's text changed only where its values changed: saving an edit rewrites those values
// and keeps every other byte, so that numbers the file holds in more digits than the host keeps
// are not rewritten in their last digit and a diff of the file shows the edit alone.
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "stage/scene_file.h"

namespace stage {

namespace {

// A JSON value's place in its text, with its members (objects: key text and value; arrays: the
// elements, with empty keys).
struct Node {
  std::size_t begin = 0, end = 0;
  char kind = 0;  // '{', '[' or 0 for any other value
  std::vector<std::pair<std::string_view, Node>> members;
};

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  // The value at the start of the text, or false when the text is not one JSON value.
  bool scan(Node& node) {
    if (!value(node, 0)) return false;
    skip_space();
    return at_ == text_.size();
  }

 private:
  void skip_space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }

  bool string_end() {
    for (++at_; at_ < text_.size(); ++at_) {
      if (text_[at_] == '\\') {
        ++at_;
      } else if (text_[at_] == '"') {
        ++at_;
        return true;
      }
    }
    return false;
  }

  bool value(Node& node, int depth) {
    if (depth > 64) return false;
    skip_space();
    if (at_ >= text_.size()) return false;
    node.begin = at_;
    const char open = text_[at_];
    if (open == '{' || open == '[') {
      node.kind = open;
      const char close = open == '{' ? '}' : ']';
      ++at_;
      skip_space();
      if (at_ < text_.size() && text_[at_] == close) {
        node.end = ++at_;
        return true;
      }
      for (;;) {
        std::string_view key;
        if (open == '{') {
          skip_space();
          const std::size_t k = at_;
          if (at_ >= text_.size() || text_[at_] != '"' || !string_end()) return false;
          key = text_.substr(k, at_ - k);
          skip_space();
          if (at_ >= text_.size() || text_[at_++] != ':') return false;
        }
        Node member;
        if (!value(member, depth + 1)) return false;
        node.members.emplace_back(key, std::move(member));
        skip_space();
        if (at_ >= text_.size()) return false;
        const char c = text_[at_++];
        if (c == close) break;
        if (c != ',') return false;
      }
      node.end = at_;
      return true;
    }
    if (open == '"') {
      if (!string_end()) return false;
    } else {
      while (at_ < text_.size() &&
             std::string_view(",]} \t\r\n").find(text_[at_]) == std::string_view::npos)
        ++at_;
      if (at_ == node.begin) return false;
    }
    node.end = at_;
    return true;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

const Node* member(const Node& node, std::string_view key) {
  for (const auto& [k, v] : node.members)
    if (k == key) return &v;
  return nullptr;
}

// The indentation of the line `at` is on.
std::size_t indent_at(std::string_view text, std::size_t at) {
  const std::size_t line = text.rfind('\n', at == 0 ? 0 : at - 1);
  std::size_t i = line == std::string_view::npos || at == 0 ? 0 : line + 1;
  const std::size_t start = i;
  while (i < text.size() && text[i] == ' ') ++i;
  return i - start;
}

struct Replacement {
  std::size_t begin, end;
  std::string text;
};

class Patcher {
 public:
  Patcher(std::string_view original, std::string_view before, std::string_view after)
      : original_(original), before_(before), after_(after) {}

  std::vector<Replacement> replacements;

  // Replaces in `t` (the original's value) what differs between `a` and `b` (its value before and
  // after), member by member where the three have the same members, else `t` whole.
  void patch(const Node& t, const Node& a, const Node& b) {
    if (text(before_, a) == text(after_, b)) return;
    const bool same_shape =
        a.kind != 0 && a.kind == b.kind && t.kind == a.kind && a.members.size() == b.members.size();
    if (same_shape && a.kind == '[' && t.members.size() == a.members.size()) {
      for (std::size_t i = 0; i < a.members.size(); ++i)
        patch(t.members[i].second, a.members[i].second, b.members[i].second);
      return;
    }
    if (same_shape && a.kind == '{' && keys_match(a, b)) {
      bool found = true;
      for (std::size_t i = 0; i < b.members.size() && found; ++i)
        found = member(t, b.members[i].first) != nullptr ||
                text(before_, a.members[i].second) == text(after_, b.members[i].second);
      if (found) {
        for (std::size_t i = 0; i < b.members.size(); ++i) {
          const Node* in_t = member(t, b.members[i].first);
          if (in_t != nullptr) patch(*in_t, a.members[i].second, b.members[i].second);
        }
        return;
      }
    }
    replace(t, b);
  }

 private:
  static std::string_view text(std::string_view whole, const Node& n) {
    return whole.substr(n.begin, n.end - n.begin);
  }

  static bool keys_match(const Node& a, const Node& b) {
    for (std::size_t i = 0; i < a.members.size(); ++i)
      if (a.members[i].first != b.members[i].first) return false;
    return true;
  }

  // `t` replaced by `b`'s text, its later lines moved to `t`'s indentation.
  void replace(const Node& t, const Node& b) {
    const std::string_view from = text(after_, b);
    const long shift = static_cast<long>(indent_at(original_, t.begin)) -
                       static_cast<long>(indent_at(after_, b.begin));
    std::string out;
    for (std::size_t i = 0; i < from.size(); ++i) {
      out += from[i];
      if (from[i] != '\n' || shift == 0) continue;
      if (shift > 0) {
        out.append(static_cast<std::size_t>(shift), ' ');
      } else {
        for (long k = 0; k < -shift && i + 1 < from.size() && from[i + 1] == ' '; ++k) ++i;
      }
    }
    replacements.push_back({t.begin, t.end, std::move(out)});
  }

  std::string_view original_, before_, after_;
};

}  // namespace

std::string patch_scene_text(const std::string& original, const std::string& before,
                             const std::string& after) {
  if (before == after) return original;
  Node t, a, b;
  if (!Scanner(original).scan(t) || !Scanner(before).scan(a) || !Scanner(after).scan(b))
    return after;
  Patcher patcher(original, before, after);
  patcher.patch(t, a, b);
  std::vector<Replacement>& r = patcher.replacements;
  std::sort(r.begin(), r.end(),
            [](const Replacement& x, const Replacement& y) { return x.begin < y.begin; });
  std::string out;
  std::size_t at = 0;
  for (const Replacement& x : r) {
    out.append(original, at, x.begin - at);
    out += x.text;
    at = x.end;
  }
  out.append(original, at, std::string::npos);
  return out;
}

}  // namespace stage
