// Block I/O of the stand-in host: the save and load states handed to a module's save and load
// callbacks, in the host's two scene-file modes.
//
// Text (LWIO_ASCII): one block a line, "Token v1 v2 ...\n". Integers are decimal, floats the
// shortest text that reads back as the same 4-byte float ("0.1", "1", "nan", "-inf"). A non-leaf
// block is a header line ending in " {" (values, if any, go before the brace), its nested blocks
// indented by two more spaces, and a line "}":
//
//   Twist 0
//   Outer 3 {
//     Inner 1.5
//   }
//   EndEnd
//
// The reader is lenient about indentation, blank lines and runs of spaces or tabs between words,
// and strict about the rest: every line must end in a newline, a "}" must close an open block, and
// a value must parse completely. Tokens match whole words, so "Twist" never matches "TwistTarget".
//
// Binary (LWIO_BINARY): each block is its 4-byte identifier, a 4-byte byte count of its contents,
// then the contents (values and nested blocks, in write order). Everything is big-endian; values
// are 4-byte two's-complement integers or IEEE floats. Every block carries its size, so a reader
// skips unknown blocks without looking inside.
//
// Corrupt or truncated input (a size beyond the data, a value cut in half, a malformed number, an
// unterminated line, an unmatched brace) makes the affected read fail: the reader sets failed(),
// leaves the caller's outputs unchanged and never reads outside the data. Blocks nest at most
// `max_block_depth` deep; entering a deeper one fails, so hostile data cannot drive a caller's
// recursion without bound.
#ifndef TARSEL_STAGE_BLOCK_IO_H
#define TARSEL_STAGE_BLOCK_IO_H

#include <cstddef>
#include <string>
#include <vector>

#include "sdk/lwio.h"

namespace stage {

// Deepest nesting of open blocks a writer produces and a reader enters.
constexpr int max_block_depth = 64;

// Collects the blocks a module writes through its save callback.
//
// Misuse is dropped rather than written, so the output always reads back: values written outside
// any block, a block with a null ident (or, in text mode, a token that is empty or holds
// whitespace, "{" or "}"), blocks beyond `max_block_depth` with everything inside them, an endBlk
// with no open block, and in text mode values written into a block after one of its nested blocks
// (text keeps a block's values on its header line). A block opened as a leaf that then gets nested
// blocks is written as a non-leaf.
class Block_writer {
 public:
  explicit Block_writer(int io_mode);  // LWIO_ASCII or LWIO_BINARY; any other value means text
  Block_writer(const Block_writer&) = delete;
  Block_writer& operator=(const Block_writer&) = delete;

  const LWSaveState* state() { return &state_; }  // hand this to the module's save
  std::string text() const { return out_; }       // what was written (bytes for binary)

 private:
  struct Open_block {
    std::size_t size_at;  // binary: offset of the size field to back-patch
    bool braced;          // text: written as "Token ... {" ... "}"
    bool header_open;     // text: the header line still takes values
  };

  static void write_i4(void* self, const int32_t* vals, int n);
  static void write_fp(void* self, const float* vals, int n);
  static void begin_blk(void* self, const LWBlockIdent* ident, int leaf);
  static void end_blk(void* self);

  void put_u32(uint32_t v);
  void indent(std::size_t depth);
  void close_header(Open_block& block);
  bool takes_values() const;
  template <typename T>
  void write_values(const T* vals, int n);

  bool binary_;
  std::string out_;
  std::vector<Open_block> open_;
  int dropped_depth_ = 0;  // blocks opened but not written (bad ident, too deep, inside such)
  LWSaveState state_;
};

// Reads blocks for a module's load callback from bytes.
class Block_reader {
 public:
  Block_reader(int io_mode, std::string data);  // LWIO_ASCII or LWIO_BINARY; other values: text
  Block_reader(const Block_reader&) = delete;
  Block_reader& operator=(const Block_reader&) = delete;

  const LWLoadState* state() { return &state_; }  // hand this to the module's load
  // A read ran past the data or its block, met a malformed value or corrupt structure, or a block
  // was entered beyond the depth bound. Stays set once set.
  bool failed() const { return failed_; }
  // Text mode: the header lines (without indentation) of the top-level blocks the module never
  // entered: those it skipped as naming none of the blocks it asked for, and those after the last
  // block it looked at. Empty in binary mode.
  std::vector<std::string> unread_blocks() const;
  // Where and why the first failed read failed: "line 3: \"x\" is not a number" (text) or
  // "byte 12: ..." (binary); empty while nothing failed.
  const std::string& failure() const { return failure_; }

 private:
  // One level of the block structure: the top level, or an entered block. Offsets index data_.
  struct Level {
    std::size_t pos;        // next unread byte: binary values and blocks; text child lines
    std::size_t end;        // end of this level's contents (text: start of the closing "}" line)
    std::size_t value_pos;  // text: next unread value on the block's header line
    std::size_t value_end;  // text: end of the header line's values
  };
  // Where one text block sits: its values on the header line, its child lines, and its end.
  struct Text_block {
    std::size_t token_begin, token_end;
    std::size_t value_begin, value_end;
    std::size_t children_begin, children_end;
    std::size_t next;  // first byte after the block
  };

  static int read_i4(void* self, int32_t* vals, int n);
  static int read_fp(void* self, float* vals, int n);
  static LWID find_blk(void* self, const LWBlockIdent* table);
  static void end_blk(void* self);

  template <typename T>
  int read_values(T* vals, int n);
  template <typename T>
  bool read_binary_value(Level& level, T& out);
  template <typename T>
  bool read_text_value(Level& level, T& out);
  LWID find_binary(const LWBlockIdent* table);
  LWID find_text(const LWBlockIdent* table);
  bool scan_text_block(std::size_t line, std::size_t region_end, Text_block& block) const;
  LWID enter(LWID id, const Level& inner);
  std::string header_line(std::size_t token_begin) const;
  void fail_at(std::size_t pos, const std::string& why);

  bool binary_;
  std::string data_;
  std::vector<Level> levels_;  // [0] is the top level; the last is the block being read
  bool failed_ = false;
  std::vector<std::string> skipped_;  // top-level header lines passed over unasked
  std::string failure_;
  LWLoadState state_;
};

}  // namespace stage

#endif
