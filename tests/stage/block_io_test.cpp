#include "stage/block_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// A record shaped like a chain-root instance: nine options and an end marker, all leaf blocks.
const LWBlockIdent record_table[] = {{LWID_(' ', ' ', ' ', ' '), "EndEnd"},
                                     {LWID_(' ', ' ', ' ', '!'), "Twist"},
                                     {LWID_(' ', ' ', ' ', '"'), "TwistTarget"},
                                     {LWID_(' ', ' ', ' ', '#'), "TwistEffect"},
                                     {LWID_(' ', ' ', ' ', '$'), "GoalPosition"},
                                     {LWID_(' ', ' ', ' ', '%'), "PluginEffect"},
                                     {LWID_(' ', ' ', ' ', '&'), "MixWithFk"},
                                     {LWID_(' ', ' ', ' ', '\''), "ExcessStretch"},
                                     {LWID_(' ', ' ', ' ', '('), "PostureWeight"},
                                     {LWID_(' ', ' ', ' ', ')'), "ArbitraryLimit"},
                                     {0, nullptr}};
constexpr int end_row = 0;
constexpr int weight_row = 8;

struct Record {
  int32_t ints[10] = {};  // by table row; rows 0 (EndEnd) and 8 (PostureWeight) unused
  float weight = 1.0f;
};

// Saves as the module does: rows 1..9 in table order, then EndEnd.
void save_record(const LWSaveState* save, const Record& rec) {
  for (int row = 1; row <= 10; ++row) {
    const int r = row % 10;
    save->beginBlk(save->writeData, &record_table[r], 1);
    if (r == weight_row) {
      save->writeFP(save->writeData, &rec.weight, 1);
    } else if (r != end_row) {
      save->writeI4(save->writeData, &rec.ints[r], 1);
    }
    save->endBlk(save->writeData);
  }
}

// Loads as the module does: any order, stop at EndEnd without closing it.
void load_record(const LWLoadState* load, Record& rec) {
  for (;;) {
    const LWID id = load->findBlk(load->readData, record_table);
    if (id == 0 || id == record_table[end_row].id) return;
    const int r = static_cast<int>(id & 0xFF) - 0x20;
    if (r == weight_row) {
      load->readFP(load->readData, &rec.weight, 1);
    } else {
      load->readI4(load->readData, &rec.ints[r], 1);
    }
    load->endBlk(load->readData);
  }
}

Record sample_record() {
  Record rec;
  const int32_t ints[10] = {0, 101, -7, std::numeric_limits<int32_t>::max(),
                            0, 104, 1,  std::numeric_limits<int32_t>::min(),
                            0, 1};
  std::memcpy(rec.ints, ints, sizeof ints);
  rec.weight = 0.1f;
  return rec;
}

Record sentinel_record() {
  Record rec;
  for (int& v : rec.ints) v = 0x5A5A5A5A;
  rec.weight = -12345.0f;
  return rec;
}

uint32_t float_bits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

std::string write_record(int mode, const Record& rec) {
  stage::Block_writer writer(mode);
  save_record(writer.state(), rec);
  return writer.text();
}

std::string be32(uint32_t v) {
  std::string s;
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xFF);
  return s;
}

std::string bin_block(uint32_t id, const std::string& contents) {
  return be32(id) + be32(static_cast<uint32_t>(contents.size())) + contents;
}

const LWBlockIdent nest_table[] = {{LWID_('O', 'U', 'T', 'R'), "Outer"},
                                   {LWID_('I', 'N', 'N', 'R'), "Inner"},
                                   {LWID_('L', 'E', 'A', 'F'), "Leaf"},
                                   {0, nullptr}};

// Writes Outer 3 { Leaf 1, Inner { Leaf 2.5 }, Leaf 4 }.
std::string write_nested(int mode) {
  stage::Block_writer writer(mode);
  const LWSaveState* s = writer.state();
  const int32_t three = 3, one = 1, four = 4;
  const float two_half = 2.5f;
  s->beginBlk(s->writeData, &nest_table[0], 0);
  s->writeI4(s->writeData, &three, 1);
  s->beginBlk(s->writeData, &nest_table[2], 1);
  s->writeI4(s->writeData, &one, 1);
  s->endBlk(s->writeData);
  s->beginBlk(s->writeData, &nest_table[1], 0);
  s->beginBlk(s->writeData, &nest_table[2], 1);
  s->writeFP(s->writeData, &two_half, 1);
  s->endBlk(s->writeData);
  s->endBlk(s->writeData);
  s->beginBlk(s->writeData, &nest_table[2], 1);
  s->writeI4(s->writeData, &four, 1);
  s->endBlk(s->writeData);
  s->endBlk(s->writeData);
  return writer.text();
}

// Enters every block the table knows, depth first, reading one int and one float from each; used
// to drive the reader over hostile data.
void walk(const LWLoadState* load, const LWBlockIdent* table, int& blocks) {
  while (load->findBlk(load->readData, table) != 0) {
    ++blocks;
    int32_t i = 0;
    float f = 0;
    load->readI4(load->readData, &i, 1);
    load->readFP(load->readData, &f, 1);
    walk(load, table, blocks);
    load->endBlk(load->readData);
  }
}

class Both_modes : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Block_io, Both_modes, ::testing::Values(LWIO_ASCII, LWIO_BINARY),
                         [](const auto& info) {
                           return info.param == LWIO_BINARY ? "Binary" : "Text";
                         });

// ---------------------------------------------------------------------------------------------
// Round trips and exact formats

TEST_P(Both_modes, RecordRoundTripsExactly) {
  const Record saved = sample_record();
  stage::Block_reader reader(GetParam(), write_record(GetParam(), saved));
  Record loaded;
  load_record(reader.state(), loaded);
  EXPECT_FALSE(reader.failed());
  for (int r = 0; r < 10; ++r) EXPECT_EQ(loaded.ints[r], saved.ints[r]) << "row " << r;
  EXPECT_EQ(loaded.weight, 0.1f);
  EXPECT_NE(static_cast<double>(loaded.weight), 0.1);
}

TEST_P(Both_modes, FloatsRoundTripBitForBit) {
  const float values[] = {0.0f,
                          -0.0f,
                          1.0f / 3.0f,
                          -1.5e-7f,
                          std::numeric_limits<float>::max(),
                          std::numeric_limits<float>::lowest(),
                          std::numeric_limits<float>::min(),
                          std::numeric_limits<float>::denorm_min(),
                          std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity(),
                          16777217.0f};
  const int n = static_cast<int>(std::size(values));
  stage::Block_writer writer(GetParam());
  const LWSaveState* s = writer.state();
  s->beginBlk(s->writeData, &nest_table[2], 1);
  s->writeFP(s->writeData, values, n);
  s->endBlk(s->writeData);

  stage::Block_reader reader(GetParam(), writer.text());
  const LWLoadState* l = reader.state();
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[2].id);
  float back[std::size(values)] = {};
  ASSERT_EQ(l->readFP(l->readData, back, n), n);
  for (int i = 0; i < n; ++i) EXPECT_EQ(float_bits(back[i]), float_bits(values[i])) << i;
  EXPECT_FALSE(reader.failed());
}

TEST(Block_io_text, DefaultRecordWritesTheModulesTokens) {
  Record rec;
  rec.ints[7] = 1;  // ExcessStretch on by default
  EXPECT_EQ(write_record(LWIO_ASCII, rec),
            "Twist 0\nTwistTarget 0\nTwistEffect 0\nGoalPosition 0\nPluginEffect 0\nMixWithFk 0\n"
            "ExcessStretch 1\nPostureWeight 1\nArbitraryLimit 0\nEndEnd\n");
}

TEST(Block_io_text, NestedBlocksAreBracedAndIndented) {
  EXPECT_EQ(write_nested(LWIO_ASCII),
            "Outer 3 {\n  Leaf 1\n  Inner {\n    Leaf 2.5\n  }\n  Leaf 4\n}\n");
}

TEST(Block_io_binary, BlocksAreIdSizeAndBigEndianContents) {
  const std::string leaf1 = bin_block(nest_table[2].id, be32(1));
  const std::string inner =
      bin_block(nest_table[1].id, bin_block(nest_table[2].id, be32(0x40200000)));
  const std::string leaf4 = bin_block(nest_table[2].id, be32(4));
  EXPECT_EQ(write_nested(LWIO_BINARY),
            bin_block(nest_table[0].id, be32(3) + leaf1 + inner + leaf4));
}

// ---------------------------------------------------------------------------------------------
// findBlk, endBlk and reads

TEST_P(Both_modes, FindSkipsUnknownBlocksAndReturnsZeroAtTheEnd) {
  // Only PostureWeight and ArbitraryLimit are known; the rest, and EndEnd, are skipped.
  const LWBlockIdent table[] = {record_table[9], record_table[8], {0, nullptr}};
  stage::Block_reader reader(GetParam(), write_record(GetParam(), sample_record()));
  const LWLoadState* l = reader.state();
  float weight = 0;
  ASSERT_EQ(l->findBlk(l->readData, table), record_table[8].id);
  EXPECT_EQ(l->readFP(l->readData, &weight, 1), 1);
  l->endBlk(l->readData);
  int32_t limit = 9;
  ASSERT_EQ(l->findBlk(l->readData, table), record_table[9].id);
  EXPECT_EQ(l->readI4(l->readData, &limit, 1), 1);
  l->endBlk(l->readData);
  EXPECT_EQ(l->findBlk(l->readData, table), 0u);
  EXPECT_EQ(l->findBlk(l->readData, table), 0u);
  EXPECT_EQ(weight, 0.1f);
  EXPECT_EQ(limit, 1);
  EXPECT_FALSE(reader.failed());
}

TEST(Block_io_text, TokensMatchWholeWords) {
  const LWBlockIdent table[] = {record_table[1], {0, nullptr}};  // "Twist" only
  stage::Block_reader reader(LWIO_ASCII, "TwistTarget 5\nTwistEffect 6\nTwis 7\nTwist 8\n");
  const LWLoadState* l = reader.state();
  int32_t v = 0;
  ASSERT_EQ(l->findBlk(l->readData, table), record_table[1].id);
  EXPECT_EQ(l->readI4(l->readData, &v, 1), 1);
  EXPECT_EQ(v, 8);
}

TEST_P(Both_modes, BlocksLoadInAnyOrderAndTheLaterDuplicateWins) {
  stage::Block_writer writer(GetParam());
  const LWSaveState* s = writer.state();
  const auto put = [&](int row, int32_t v) {
    s->beginBlk(s->writeData, &record_table[row], 1);
    s->writeI4(s->writeData, &v, 1);
    s->endBlk(s->writeData);
  };
  put(6, 1);  // MixWithFk
  put(2, 22);
  put(6, 0);
  put(1, 11);
  s->beginBlk(s->writeData, &record_table[end_row], 1);
  s->endBlk(s->writeData);
  put(3, 33);  // after EndEnd: never read
  stage::Block_reader reader(GetParam(), writer.text());
  Record rec = sentinel_record();
  load_record(reader.state(), rec);
  EXPECT_EQ(rec.ints[6], 0);
  EXPECT_EQ(rec.ints[2], 22);
  EXPECT_EQ(rec.ints[1], 11);
  EXPECT_EQ(rec.ints[3], 0x5A5A5A5A);
  EXPECT_EQ(rec.weight, -12345.0f);
}

TEST_P(Both_modes, ShortReadsReturnTheCountAndLeaveTheRestAlone) {
  stage::Block_writer writer(GetParam());
  const LWSaveState* s = writer.state();
  const int32_t vals[3] = {4, 5, 6};
  s->beginBlk(s->writeData, &nest_table[2], 1);
  s->writeI4(s->writeData, vals, 3);
  s->endBlk(s->writeData);
  s->beginBlk(s->writeData, &nest_table[2], 1);
  s->writeI4(s->writeData, vals, 1);
  s->endBlk(s->writeData);

  stage::Block_reader reader(GetParam(), writer.text());
  const LWLoadState* l = reader.state();
  int32_t out[5] = {-1, -1, -1, -1, -1};
  ASSERT_NE(l->findBlk(l->readData, nest_table), 0u);
  EXPECT_EQ(l->readI4(l->readData, out, 2), 2);  // endBlk skips the unread third value
  l->endBlk(l->readData);
  EXPECT_FALSE(reader.failed());
  ASSERT_NE(l->findBlk(l->readData, nest_table), 0u);
  EXPECT_EQ(l->readI4(l->readData, out + 2, 3), 1);  // never reads into the next block
  EXPECT_TRUE(reader.failed());
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], 5);
  EXPECT_EQ(out[2], 4);
  EXPECT_EQ(out[3], -1);
  EXPECT_EQ(out[4], -1);
}

TEST_P(Both_modes, ReadsOutsideABlockFail) {
  stage::Block_reader reader(GetParam(), write_record(GetParam(), sample_record()));
  const LWLoadState* l = reader.state();
  int32_t v = 77;
  l->endBlk(l->readData);  // nothing open: ignored
  EXPECT_EQ(l->readI4(l->readData, &v, 1), 0);
  EXPECT_EQ(v, 77);
  EXPECT_TRUE(reader.failed());
}

TEST_P(Both_modes, NestedBlocksReadBackAndSkip) {
  stage::Block_reader reader(GetParam(), write_nested(GetParam()));
  const LWLoadState* l = reader.state();
  const LWBlockIdent leaf_only[] = {nest_table[2], {0, nullptr}};
  int32_t i = 0;
  float f = 0;
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[0].id);
  EXPECT_EQ(l->readI4(l->readData, &i, 1), 1);
  EXPECT_EQ(i, 3);
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[2].id);
  EXPECT_EQ(l->readI4(l->readData, &i, 1), 1);
  EXPECT_EQ(i, 1);
  l->endBlk(l->readData);
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[1].id);
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[2].id);
  EXPECT_EQ(l->readFP(l->readData, &f, 1), 1);
  EXPECT_EQ(f, 2.5f);
  l->endBlk(l->readData);
  EXPECT_EQ(l->findBlk(l->readData, nest_table), 0u);  // end of Inner
  l->endBlk(l->readData);
  ASSERT_EQ(l->findBlk(l->readData, leaf_only), nest_table[2].id);
  EXPECT_EQ(l->readI4(l->readData, &i, 1), 1);
  EXPECT_EQ(i, 4);
  l->endBlk(l->readData);
  EXPECT_EQ(l->findBlk(l->readData, nest_table), 0u);  // end of Outer
  l->endBlk(l->readData);
  EXPECT_EQ(l->findBlk(l->readData, nest_table), 0u);  // end of data
  EXPECT_FALSE(reader.failed());

  // Skipping: an unknown non-leaf is passed over whole, and endBlk skips unread children.
  stage::Block_reader skipper(GetParam(),
                              write_nested(GetParam()) + write_record(GetParam(), sample_record()));
  const LWLoadState* k = skipper.state();
  Record rec = sentinel_record();
  load_record(k, rec);
  EXPECT_EQ(rec.ints[1], 101);
  EXPECT_EQ(rec.weight, 0.1f);
  stage::Block_reader leaver(GetParam(), write_nested(GetParam()) + write_nested(GetParam()));
  const LWLoadState* v = leaver.state();
  ASSERT_EQ(v->findBlk(v->readData, nest_table), nest_table[0].id);
  v->endBlk(v->readData);
  ASSERT_EQ(v->findBlk(v->readData, nest_table), nest_table[0].id);
  EXPECT_EQ(v->readI4(v->readData, &i, 1), 1);
  EXPECT_EQ(i, 3);
  EXPECT_FALSE(skipper.failed());
  EXPECT_FALSE(leaver.failed());
}

TEST_P(Both_modes, NestingIsBoundedOnWriteAndRead) {
  const int levels = stage::max_block_depth + 6;
  stage::Block_writer writer(GetParam());
  const LWSaveState* s = writer.state();
  for (int d = 0; d < levels; ++d) s->beginBlk(s->writeData, &nest_table[0], 0);
  for (int d = 0; d < levels; ++d) s->endBlk(s->writeData);
  const LWBlockIdent extra = {LWID_('X', 'T', 'R', 'A'), "Extra"};
  s->beginBlk(s->writeData, &extra, 1);  // every open block was closed: this is top level again
  s->endBlk(s->writeData);

  stage::Block_reader reader(GetParam(), writer.text());
  const LWLoadState* l = reader.state();
  int entered = 0;
  while (l->findBlk(l->readData, nest_table) != 0) ++entered;
  EXPECT_EQ(entered, stage::max_block_depth);
  for (int d = 0; d < entered; ++d) l->endBlk(l->readData);
  const LWBlockIdent extra_table[] = {extra, {0, nullptr}};
  EXPECT_EQ(l->findBlk(l->readData, extra_table), extra.id);
  EXPECT_FALSE(reader.failed());

  // Hand-built data one level deeper than the bound: entering the last level fails.
  std::string deep;
  if (GetParam() == LWIO_BINARY) {
    for (int d = 0; d <= stage::max_block_depth; ++d) deep = bin_block(nest_table[0].id, deep);
  } else {
    for (int d = 0; d <= stage::max_block_depth; ++d) deep += "Outer {\n";
    for (int d = 0; d <= stage::max_block_depth; ++d) deep += "}\n";
  }
  stage::Block_reader deep_reader(GetParam(), deep);
  const LWLoadState* d = deep_reader.state();
  entered = 0;
  while (d->findBlk(d->readData, nest_table) != 0) ++entered;
  EXPECT_EQ(entered, stage::max_block_depth);
  EXPECT_TRUE(deep_reader.failed());
}

// ---------------------------------------------------------------------------------------------
// Truncated and corrupt input

// Every prefix of a valid stream: no crash, each field either untouched or its true value, and
// the reader fails exactly when the cut is not on a block (binary) or line (text) boundary.
TEST_P(Both_modes, EveryTruncationLeavesFieldsUntouchedOrRight) {
  const Record saved = sample_record();
  const std::string full = write_record(GetParam(), saved);
  std::vector<std::size_t> boundaries = {0};
  if (GetParam() == LWIO_BINARY) {
    for (std::size_t at = 0; at < full.size();) {
      at += 8 + (static_cast<unsigned char>(full[at + 7]));
      boundaries.push_back(at);
    }
  } else {
    for (std::size_t at = 0; at < full.size(); ++at) {
      if (full[at] == '\n') boundaries.push_back(at + 1);
    }
  }
  const Record sentinel = sentinel_record();
  for (std::size_t cut = 0; cut <= full.size(); ++cut) {
    SCOPED_TRACE("prefix length " + std::to_string(cut));
    stage::Block_reader reader(GetParam(), full.substr(0, cut));
    Record rec = sentinel;
    load_record(reader.state(), rec);
    for (int r = 0; r < 10; ++r) {
      if (rec.ints[r] != sentinel.ints[r]) {
        EXPECT_EQ(rec.ints[r], saved.ints[r]) << "row " << r;
      }
    }
    if (float_bits(rec.weight) != float_bits(sentinel.weight)) {
      EXPECT_EQ(rec.weight, saved.weight);
    }
    const bool on_boundary =
        std::find(boundaries.begin(), boundaries.end(), cut) != boundaries.end();
    EXPECT_EQ(reader.failed(), !on_boundary);
  }
}

TEST(Block_io_binary, CorruptSizeFieldsFailWithoutReadingPastTheData) {
  const uint32_t twist = record_table[1].id;
  const uint32_t mix = record_table[6].id;
  struct Case {
    const char* name;
    std::string data;
    int32_t twist, mix;  // expected fields after loading
  };
  const std::string good_mix = bin_block(mix, be32(1));
  const Case cases[] = {
      {"size beyond data", be32(twist) + be32(5) + be32(7), -1, -1},
      {"size of all ones", be32(twist) + be32(0xFFFFFFFF) + be32(7) + good_mix, -1, -1},
      {"size cuts the value in half", be32(twist) + be32(2) + std::string("\x00\x07", 2) + good_mix,
       -1, 1},
      {"empty block", bin_block(twist, "") + good_mix, -1, 1},
      {"short header at the end", good_mix + "\x20\x20", -1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stage::Block_reader reader(LWIO_BINARY, c.data);
    Record rec;
    rec.ints[1] = rec.ints[6] = -1;
    load_record(reader.state(), rec);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(rec.ints[1], c.twist);
    EXPECT_EQ(rec.ints[6], c.mix);
  }

  // A nested block claiming more than its parent holds stops at the parent's end; the block after
  // the parent still reads.
  const std::string leaf = bin_block(nest_table[2].id, be32(5));
  const std::string data =
      bin_block(nest_table[0].id, be32(nest_table[2].id) + be32(12) + be32(9)) + leaf;
  stage::Block_reader reader(LWIO_BINARY, data);
  const LWLoadState* l = reader.state();
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[0].id);
  EXPECT_EQ(l->findBlk(l->readData, nest_table), 0u);
  EXPECT_TRUE(reader.failed());
  l->endBlk(l->readData);
  int32_t v = 0;
  ASSERT_EQ(l->findBlk(l->readData, nest_table), nest_table[2].id);
  EXPECT_EQ(l->readI4(l->readData, &v, 1), 1);
  EXPECT_EQ(v, 5);
}

TEST(Block_io_text, MalformedTextFailsAndLeavesValuesUnchanged) {
  struct Case {
    const char* name;
    std::string data;
    bool fails;
    int32_t twist;  // expected after loading from -1
    float weight;   // expected after loading from 1.0; NaN means NaN
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {"plain", "Twist 7\nPostureWeight 0.25\n", false, 7, 0.25f},
      {"lenient spacing", "\n  Twist\t 7  \r\n\n\tPostureWeight  0.25\r\n  \n ", false, 7, 0.25f},
      {"nan text is a float", "PostureWeight nan\n", false, -1, nan},
      {"integer text as float", "PostureWeight -3\n", false, -1, -3.0f},
      {"word for an int", "Twist abc\n", true, -1, 1.0f},
      {"fraction for an int", "Twist 1.5\n", true, -1, 1.0f},
      {"int out of range", "Twist 2147483648\n", true, -1, 1.0f},
      {"trailing junk on a value", "Twist 7x\nPostureWeight 0.5\n", true, -1, 0.5f},
      {"comma decimal", "PostureWeight 0,5\n", true, -1, 1.0f},
      {"float out of range", "PostureWeight 1e99\n", true, -1, 1.0f},
      {"missing value", "Twist\nPostureWeight\n", true, -1, 1.0f},
      {"missing final newline", "PostureWeight 0.5\nTwist 7", true, -1, 0.5f},
      {"stray closing brace", "}\nTwist 7\n", true, -1, 1.0f},
      {"unclosed block", "Outer {\nTwist 7\n", true, -1, 1.0f},
      {"closing brace with junk", "Outer {\n} x\n", true, -1, 1.0f},
      {"lone opening brace", "{\nTwist 7\n", true, -1, 1.0f},
      {"garbage tokens are skipped", "@@ 1 2\n\x01\x02\x7f\nTwist 7\n", false, 7, 1.0f},
      {"binary data as text", std::string("\x00\x00\x00\x01\x00\x00\x00\x04\n", 9) + "Twist 7\n",
       false, 7, 1.0f},
      {"unknown nested block skipped", "Outer 1 {\n  Twist 9\n  In {\n  }\n}\nTwist 7\n", false, 7,
       1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stage::Block_reader reader(LWIO_ASCII, c.data);
    Record rec;
    rec.ints[1] = -1;
    load_record(reader.state(), rec);
    EXPECT_EQ(reader.failed(), c.fails);
    EXPECT_EQ(rec.ints[1], c.twist);
    if (std::isnan(c.weight)) {
      EXPECT_TRUE(std::isnan(rec.weight));
    } else {
      EXPECT_EQ(rec.weight, c.weight);
    }
  }
}

// Random bytes and byte flips of valid streams, walked through every block the table knows.
TEST_P(Both_modes, HostileDataNeverCrashes) {
  std::mt19937 rng(20240611u);
  const std::string valid = write_nested(GetParam()) + write_record(GetParam(), sample_record());
  LWBlockIdent table[16] = {};
  int rows = 0;
  for (const LWBlockIdent& row : nest_table) table[rows++] = row;
  for (int r = 0; r < 10; ++r) table[rows - 1 + r] = record_table[r];
  table[rows - 1 + 10] = {0, nullptr};
  for (int round = 0; round < 3000; ++round) {
    std::string data = valid;
    if (round % 3 == 0) {
      data.resize(rng() % 64);
      for (char& c : data) c = static_cast<char>(rng() % 4 == 0 ? "{} \n"[rng() % 4] : rng());
    } else {
      for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips) {
        data[rng() % data.size()] = static_cast<char>(rng());
      }
    }
    stage::Block_reader reader(GetParam(), data);
    int blocks = 0;
    walk(reader.state(), table, blocks);
    EXPECT_LE(blocks, static_cast<int>(data.size()));
  }
}

// ---------------------------------------------------------------------------------------------
// Writer misuse still gives readable output

TEST_P(Both_modes, WriterDropsWhatItCannotWrite) {
  stage::Block_writer writer(GetParam());
  const LWSaveState* s = writer.state();
  const int32_t seven = 7, eight = 8;
  const LWBlockIdent bad_token = {record_table[2].id, "Two words"};
  s->writeI4(s->writeData, &seven, 1);  // outside any block
  s->endBlk(s->writeData);              // nothing open
  s->beginBlk(s->writeData, nullptr, 1);
  s->writeI4(s->writeData, &seven, 1);  // inside a dropped block
  s->endBlk(s->writeData);
  s->beginBlk(s->writeData, &record_table[1], 1);
  s->writeI4(s->writeData, &eight, 1);
  s->endBlk(s->writeData);
  s->beginBlk(s->writeData, &bad_token, 1);  // binary writes it, text cannot
  s->writeI4(s->writeData, &seven, 1);
  s->endBlk(s->writeData);

  stage::Block_reader reader(GetParam(), writer.text());
  Record rec = sentinel_record();
  load_record(reader.state(), rec);
  EXPECT_FALSE(reader.failed());
  EXPECT_EQ(rec.ints[1], 8);
  EXPECT_EQ(rec.ints[2], GetParam() == LWIO_BINARY ? 7 : 0x5A5A5A5A);
}

TEST(Block_io_text, ValuesAfterANestedBlockAreDroppedAndLeafBecomesBraced) {
  stage::Block_writer writer(LWIO_ASCII);
  const LWSaveState* s = writer.state();
  const int32_t one = 1, two = 2;
  s->beginBlk(s->writeData, &nest_table[2], 1);  // a leaf that gets a child anyway
  s->writeI4(s->writeData, &one, 1);
  s->beginBlk(s->writeData, &nest_table[1], 1);
  s->endBlk(s->writeData);
  s->writeI4(s->writeData, &two, 1);
  s->endBlk(s->writeData);
  s->beginBlk(s->writeData, &nest_table[0], 0);  // an empty non-leaf
  s->endBlk(s->writeData);
  EXPECT_EQ(writer.text(), "Leaf 1 {\n  Inner\n}\nOuter {\n}\n");
}

}  // namespace
