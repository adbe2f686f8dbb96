#include "stage/block_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>

namespace stage {

namespace {

constexpr std::size_t no_pos = std::string::npos;

// Word separators inside a text line; '\n' alone ends a line.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

uint32_t get_u32(const std::string& data, std::size_t at) {
  const auto byte = [&](std::size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(data[at + i]));
  };
  return (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
}

// A token must read back as one whole word that is not a brace.
bool valid_token(const char* token) {
  if (token == nullptr || token[0] == '\0') return false;
  if ((token[0] == '{' || token[0] == '}') && token[1] == '\0') return false;
  for (const char* c = token; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) <= 0x20) return false;
  }
  return true;
}

// The word starting at or after `pos` and before `end`: [first, second), empty when none.
std::pair<std::size_t, std::size_t> next_word(const std::string& s, std::size_t pos,
                                              std::size_t end) {
  while (pos < end && is_blank(s[pos])) ++pos;
  std::size_t stop = pos;
  while (stop < end && !is_blank(s[stop])) ++stop;
  return {pos, stop};
}

// The last word of [begin, end): [first, second), empty when the range is blank.
std::pair<std::size_t, std::size_t> last_word(const std::string& s, std::size_t begin,
                                              std::size_t end) {
  while (end > begin && is_blank(s[end - 1])) --end;
  std::size_t start = end;
  while (start > begin && !is_blank(s[start - 1])) --start;
  return {start, end};
}

bool word_is(const std::string& s, std::pair<std::size_t, std::size_t> word, char c) {
  return word.second - word.first == 1 && s[word.first] == c;
}

std::size_t find_newline(const std::string& s, std::size_t pos, std::size_t end) {
  const void* hit = std::memchr(s.data() + pos, '\n', end - pos);
  return hit == nullptr ? no_pos
                        : static_cast<std::size_t>(static_cast<const char*>(hit) - s.data());
}

// Skips blank lines from `pos`; a blank tail without its newline counts as blank too.
std::size_t skip_blank_lines(const std::string& s, std::size_t pos, std::size_t end) {
  while (pos < end) {
    std::size_t p = pos;
    while (p < end && is_blank(s[p])) ++p;
    if (p == end) return end;
    if (s[p] != '\n') return pos;
    pos = p + 1;
  }
  return pos;
}

// A whole word read as a value: read, not a number at all, or a number the type cannot hold.
enum class Parsed { ok, not_a_number, out_of_range };

Parsed parsed(const std::from_chars_result& r, const char* last) {
  if (r.ptr != last) return Parsed::not_a_number;
  if (r.ec == std::errc::result_out_of_range) return Parsed::out_of_range;
  return r.ec == std::errc() ? Parsed::ok : Parsed::not_a_number;
}

Parsed parse_value(const char* first, const char* last, int32_t& out) {
  return parsed(std::from_chars(first, last, out, 10), last);
}

#ifdef __cpp_lib_to_chars
Parsed parse_value(const char* first, const char* last, float& out) {
  return parsed(std::from_chars(first, last, out, std::chars_format::general), last);
}

std::size_t format_float(char* buf, std::size_t size, float v) {
  return static_cast<std::size_t>(std::to_chars(buf, buf + size, v).ptr - buf);
}
#else
// A standard library without floating-point <charconv> (emscripten's): the same words accepted,
// decimal with an optional exponent, and the fewest digits that read back as the same float.
Parsed parse_value(const char* first, const char* last, float& out) {
  if (first == last || last - first > 64) return Parsed::not_a_number;
  for (const char* p = first; p != last; ++p)
    if (!std::strchr("0123456789.eE+-", *p)) return Parsed::not_a_number;
  if (*first == '+') return Parsed::not_a_number;
  char word[72];
  std::memcpy(word, first, static_cast<std::size_t>(last - first));
  word[last - first] = '\0';
  char* end = nullptr;
  const float v = std::strtof(word, &end);
  if (end != word + (last - first)) return Parsed::not_a_number;
  if (!std::isfinite(v)) return Parsed::out_of_range;
  out = v;
  return Parsed::ok;
}

std::size_t format_float(char* buf, std::size_t size, float v) {
  int n = 0;
  for (int digits = 1; digits <= 9; ++digits) {
    n = std::snprintf(buf, size, "%.*g", digits, static_cast<double>(v));
    if (std::strtof(buf, nullptr) == v) break;
  }
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}
#endif

}  // namespace

// ---------------------------------------------------------------------------------------------
// Block_writer

Block_writer::Block_writer(int io_mode) : binary_(io_mode == LWIO_BINARY) {
  state_.ioMode = binary_ ? LWIO_BINARY : LWIO_ASCII;
  state_.writeData = this;
  state_.writeI4 = &Block_writer::write_i4;
  state_.writeFP = &Block_writer::write_fp;
  state_.beginBlk = &Block_writer::begin_blk;
  state_.endBlk = &Block_writer::end_blk;
}

void Block_writer::put_u32(uint32_t v) {
  out_ += static_cast<char>((v >> 24) & 0xFF);
  out_ += static_cast<char>((v >> 16) & 0xFF);
  out_ += static_cast<char>((v >> 8) & 0xFF);
  out_ += static_cast<char>(v & 0xFF);
}

void Block_writer::indent(std::size_t depth) { out_.append(2 * depth, ' '); }

void Block_writer::close_header(Open_block& block) {
  if (!block.header_open) return;
  out_ += " {\n";
  block.header_open = false;
  block.braced = true;
}

bool Block_writer::takes_values() const {
  return dropped_depth_ == 0 && !open_.empty() && (binary_ || open_.back().header_open);
}

// Both value types are four bytes: binary files hold their bits, text files the shortest decimal
// text that reads back as exactly the same value.
template <typename T>
void Block_writer::write_values(const T* vals, int n) {
  static_assert(sizeof(T) == 4, "block values are four bytes");
  if (vals == nullptr || n <= 0 || !takes_values()) return;
  for (int i = 0; i < n; ++i) {
    if (binary_) {
      uint32_t bits;
      std::memcpy(&bits, &vals[i], sizeof bits);
      put_u32(bits);
    } else {
      char buf[32];
      std::size_t length;
      if constexpr (std::is_same_v<T, float>)
        length = format_float(buf, sizeof buf, vals[i]);
      else
        length = static_cast<std::size_t>(std::to_chars(buf, buf + sizeof buf, vals[i]).ptr - buf);
      out_ += ' ';
      out_.append(buf, length);
    }
  }
}

void Block_writer::write_i4(void* self, const int32_t* vals, int n) {
  static_cast<Block_writer*>(self)->write_values(vals, n);
}

void Block_writer::write_fp(void* self, const float* vals, int n) {
  static_cast<Block_writer*>(self)->write_values(vals, n);
}

void Block_writer::begin_blk(void* self, const LWBlockIdent* ident, int leaf) {
  auto& w = *static_cast<Block_writer*>(self);
  if (w.dropped_depth_ > 0 || ident == nullptr ||
      w.open_.size() >= static_cast<std::size_t>(max_block_depth) ||
      (!w.binary_ && !valid_token(ident->token))) {
    ++w.dropped_depth_;
    return;
  }
  if (w.binary_) {
    w.put_u32(ident->id);
    const std::size_t size_at = w.out_.size();
    w.put_u32(0);
    w.open_.push_back({size_at, false, false});
    return;
  }
  if (!w.open_.empty()) w.close_header(w.open_.back());
  w.indent(w.open_.size());
  w.out_ += ident->token;
  w.open_.push_back({0, leaf == 0, true});
}

void Block_writer::end_blk(void* self) {
  auto& w = *static_cast<Block_writer*>(self);
  if (w.dropped_depth_ > 0) {
    --w.dropped_depth_;
    return;
  }
  if (w.open_.empty()) return;
  Open_block block = w.open_.back();
  w.open_.pop_back();
  if (w.binary_) {
    const std::size_t size = w.out_.size() - (block.size_at + 4);
    const uint32_t size32 = size > std::numeric_limits<uint32_t>::max()
                                ? std::numeric_limits<uint32_t>::max()
                                : static_cast<uint32_t>(size);
    for (int i = 0; i < 4; ++i) {
      w.out_[block.size_at + i] = static_cast<char>((size32 >> (24 - 8 * i)) & 0xFF);
    }
    return;
  }
  if (block.header_open && !block.braced) {
    w.out_ += '\n';
    return;
  }
  w.close_header(block);
  w.indent(w.open_.size());
  w.out_ += "}\n";
}

// ---------------------------------------------------------------------------------------------
// Block_reader

Block_reader::Block_reader(int io_mode, std::string data)
    : binary_(io_mode == LWIO_BINARY), data_(std::move(data)) {
  levels_.reserve(static_cast<std::size_t>(max_block_depth) + 1);
  levels_.push_back({0, data_.size(), 0, 0});
  state_.ioMode = binary_ ? LWIO_BINARY : LWIO_ASCII;
  state_.readData = this;
  state_.readI4 = &Block_reader::read_i4;
  state_.readFP = &Block_reader::read_fp;
  state_.findBlk = &Block_reader::find_blk;
  state_.endBlk = &Block_reader::end_blk;
}

int Block_reader::read_i4(void* self, int32_t* vals, int n) {
  return static_cast<Block_reader*>(self)->read_values(vals, n);
}

int Block_reader::read_fp(void* self, float* vals, int n) {
  return static_cast<Block_reader*>(self)->read_values(vals, n);
}

LWID Block_reader::find_blk(void* self, const LWBlockIdent* table) {
  auto& r = *static_cast<Block_reader*>(self);
  return r.binary_ ? r.find_binary(table) : r.find_text(table);
}

void Block_reader::end_blk(void* self) {
  // The enclosing level already points past this block, so leaving it skips what was unread.
  auto& r = *static_cast<Block_reader*>(self);
  if (r.levels_.size() > 1) r.levels_.pop_back();
}

template <typename T>
int Block_reader::read_values(T* vals, int n) {
  if (vals == nullptr || n <= 0) return 0;
  if (levels_.size() < 2) {  // values live only inside a block
    fail_at(levels_.back().pos, "a value is read outside any block");
    return 0;
  }
  Level& level = levels_.back();
  for (int i = 0; i < n; ++i) {
    T v{};
    const bool ok = binary_ ? read_binary_value(level, v) : read_text_value(level, v);
    if (!ok) return i;
    vals[i] = v;
  }
  return n;
}

template <typename T>
bool Block_reader::read_binary_value(Level& level, T& out) {
  static_assert(sizeof(T) == 4 && std::is_trivially_copyable_v<T>, "4-byte values only");
  if (level.end - level.pos < 4) {
    fail_at(level.pos, "a value runs past the end of its block");
    return false;
  }
  const uint32_t bits = get_u32(data_, level.pos);
  std::memcpy(&out, &bits, sizeof out);
  level.pos += 4;
  return true;
}

template <typename T>
bool Block_reader::read_text_value(Level& level, T& out) {
  const auto word = next_word(data_, level.value_pos, level.value_end);
  if (word.first == word.second) {
    fail_at(level.value_pos, "a value is missing");
    return false;
  }
  T v{};
  const Parsed p = parse_value(data_.data() + word.first, data_.data() + word.second, v);
  if (p != Parsed::ok) {
    constexpr bool is_float = std::is_same_v<T, float>;
    const char* const why =
        p == Parsed::out_of_range
            ? (is_float ? "\" is outside the range of a float (about 1.2e-38 to 3.4e+38)"
                        : "\" is beyond the range of a 32-bit whole number")
            : (is_float ? "\" is not a number" : "\" is not a whole number");
    fail_at(
        word.first,
        "\"" + data_.substr(word.first, std::min<std::size_t>(word.second - word.first, 40)) + why);
    return false;
  }
  out = v;
  level.value_pos = word.second;
  return true;
}

LWID Block_reader::enter(LWID id, const Level& inner) {
  if (levels_.size() > static_cast<std::size_t>(max_block_depth)) {
    fail_at(levels_.back().pos, "blocks nest deeper than " + std::to_string(max_block_depth));
    return 0;
  }
  levels_.push_back(inner);
  return id;
}

LWID Block_reader::find_binary(const LWBlockIdent* table) {
  for (;;) {
    Level& level = levels_.back();
    if (level.pos == level.end) return 0;
    if (level.end - level.pos < 8) {  // a header cut short
      fail_at(level.pos, "a block header is cut short");
      level.pos = level.end;
      return 0;
    }
    const LWID id = get_u32(data_, level.pos);
    const uint32_t size = get_u32(data_, level.pos + 4);
    const std::size_t body = level.pos + 8;
    if (size > level.end - body) {  // contents run past the enclosing block or the data
      fail_at(level.pos, "a block's size runs past the end of the data or its enclosing block");
      level.pos = level.end;
      return 0;
    }
    level.pos = body + size;
    if (table == nullptr) continue;
    for (const LWBlockIdent* row = table; row->id != 0; ++row) {
      if (row->id == id) return enter(id, Level{body, body + size, 0, 0});
    }
  }
}

// Locates the text block whose header line starts at `line`. False when the data is malformed:
// an unterminated line, a stray or misplaced brace, or a block that is not closed before
// `region_end`.
bool Block_reader::scan_text_block(std::size_t line, std::size_t region_end,
                                   Text_block& block) const {
  const std::size_t newline = find_newline(data_, line, region_end);
  if (newline == no_pos) return false;
  const auto token = next_word(data_, line, newline);
  if (word_is(data_, token, '{') || word_is(data_, token, '}')) return false;
  const auto last = last_word(data_, token.second, newline);
  block.token_begin = token.first;
  block.token_end = token.second;
  block.value_begin = token.second;
  block.children_begin = newline + 1;
  if (!word_is(data_, last, '{')) {
    block.value_end = newline;
    block.children_end = newline + 1;
    block.next = newline + 1;
    return true;
  }
  block.value_end = last.first;
  // Find the matching "}" line, counting the braces of nested blocks.
  std::size_t depth = 1;
  std::size_t pos = newline + 1;
  while (pos < region_end) {
    const std::size_t end = find_newline(data_, pos, region_end);
    if (end == no_pos) return false;
    const auto first = next_word(data_, pos, end);
    if (word_is(data_, first, '}')) {
      if (next_word(data_, first.second, end).first != end) return false;
      if (--depth == 0) {
        block.children_end = pos;
        block.next = end + 1;
        return true;
      }
    } else if (word_is(data_, first, '{')) {
      return false;
    } else if (first.first != first.second &&
               word_is(data_, last_word(data_, first.second, end), '{')) {
      ++depth;
    }
    pos = end + 1;
  }
  return false;
}

LWID Block_reader::find_text(const LWBlockIdent* table) {
  for (;;) {
    Level& level = levels_.back();
    level.pos = skip_blank_lines(data_, level.pos, level.end);
    if (level.pos >= level.end) return 0;
    Text_block block{};
    if (!scan_text_block(level.pos, level.end, block)) {
      fail_at(level.pos,
              "the block is malformed (a line without its newline, a stray brace or a block "
              "left open)");
      level.pos = level.end;
      return 0;
    }
    level.pos = block.next;
    const bool top = levels_.size() == 1;
    const std::size_t length = block.token_end - block.token_begin;
    for (const LWBlockIdent* row = table; row != nullptr && row->id != 0; ++row) {
      if (row->token == nullptr || std::strlen(row->token) != length) continue;
      if (std::memcmp(row->token, data_.data() + block.token_begin, length) != 0) continue;
      return enter(row->id, Level{block.children_begin, block.children_end, block.value_begin,
                                  block.value_end});
    }
    if (top) skipped_.push_back(header_line(block.token_begin));
  }
}

std::string Block_reader::header_line(std::size_t token_begin) const {
  std::size_t end = data_.find('\n', token_begin);
  if (end == std::string::npos) end = data_.size();
  return data_.substr(token_begin, end - token_begin);
}

std::vector<std::string> Block_reader::unread_blocks() const {
  std::vector<std::string> unread = skipped_;
  if (binary_) return unread;
  // Top-level blocks after the last one the module looked at.
  std::size_t pos = levels_.front().pos;
  const std::size_t end = levels_.front().end;
  for (;;) {
    pos = skip_blank_lines(data_, pos, end);
    if (pos >= end) break;
    Text_block block{};
    if (!scan_text_block(pos, end, block)) break;
    unread.push_back(header_line(block.token_begin));
    pos = block.next;
  }
  return unread;
}

void Block_reader::fail_at(std::size_t pos, const std::string& why) {
  if (!failed_) {
    if (binary_) {
      failure_ = "byte " + std::to_string(pos) + ": " + why;
    } else {
      const std::size_t before = std::min(pos, data_.size());
      const auto lines =
          std::count(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(before), '\n');
      failure_ = "line " + std::to_string(lines + 1) + ": " + why;
    }
  }
  failed_ = true;
}

}  // namespace stage
