// Installing compiled modules from images written here byte by byte (no writer of the project's
// own): unpacking rules, installation first and after a source module, and a table of damaged
// images that must be refused before anything outside their own blocks is written.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "driver/compiled_module.h"
#include "driver/image_unpack.h"
#include "frontend_test_util.h"
#include "store/store_state.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put32(Bytes* b, uint32_t v) {
  for (int i = 0; i < 4; i++) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// ---- unpacking ----

// A packed stream: table (Z E2 E3 E4, fixed codes, trailing codes) and body.
Bytes packed(uint8_t z, uint8_t e2, uint8_t e3, uint8_t e4, const std::vector<std::array<uint8_t, 3>>& fixed,
             const std::vector<std::array<uint8_t, 2>>& trailing, const Bytes& body) {
  Bytes p = {z, e2, e3, e4, static_cast<uint8_t>(fixed.size()), static_cast<uint8_t>(fixed.size() + trailing.size())};
  for (auto& f : fixed) p.push_back(f[0]);
  for (auto& t : trailing) p.push_back(t[0]);
  for (auto& f : fixed) p.push_back(f[1]);
  for (auto& t : trailing) p.push_back(t[1]);
  for (auto& f : fixed) p.push_back(f[2]);
  p.insert(p.end(), body.begin(), body.end());
  return p;
}

struct UnpackCase {
  const char* what;
  Bytes body;
  Bytes out;   // empty with bad: the stream is refused
  bool bad;
};

TEST(ImageUnpack, EscapesCodesAndTheirLimits) {
  // Z = 0xF0, E2 = 0xF1, E3 = 0xF2, E4 = 0xF3; fixed code 0xE0 = 0x12 then 3 zeros, fixed 0xE4 =
  // 4 zeros then 0x7B (count 7); trailing code 0xE1 for 0x1D.
  const UnpackCase cases[] = {
      {"a zero byte and a literal", {0, 0x41}, {0, 0x41}, false},
      {"E2 E2 is one E2 byte", {0xF1, 0xF1}, {0xF1}, false},
      {"E2 alone is two zeros", {0xF1, 0x41}, {0, 0, 0x41}, false},
      {"E3 and E4", {0xF2, 0xF3}, {0, 0, 0, 0, 0, 0, 0}, false},
      {"E4 E4 is one E4 byte", {0xF3, 0xF3, 0xF2, 0xF2}, {0xF3, 0xF2}, false},
      {"E2 as the last byte is two zeros", {0x41, 0xF1}, {0x41, 0, 0}, false},
      {"Z 0 is Z", {0xF0, 0}, {0xF0}, false},
      {"Z 7 is seven zeros", {0xF0, 7}, Bytes(7, 0), false},
      {"a fixed code", {0xE0, 0xE4}, {0x12, 0, 0, 0, 0, 0, 0, 0, 0x7B}, false},
      {"a trailing code with FE is itself", {0xE1, 0xFE}, {0xE1}, false},
      {"a trailing code with 3 is the value and three zeros", {0xE1, 3}, {0x1D, 0, 0, 0}, false},
      {"a trailing code with 6 is three zeros and the value", {0xE1, 6}, {0, 0, 0, 0x1D}, false},
      {"a trailing code with 0 is the value alone", {0xE1, 0}, {0x1D}, false},
      {"Z without its count", {0x41, 0xF0}, {}, true},
      {"a trailing code without its count", {0xE1}, {}, true},
  };
  for (const auto& c : cases) {
    Bytes p = packed(0xF0, 0xF1, 0xF2, 0xF3, {{0xE0, 0x12, 3}, {0xE4, 0x7B, 7}}, {{0xE1, 0x1D}}, c.body);
    const uint8_t* out = image_unpack(p.data(), p.size(), c.out.size());
    if (c.bad) {
      EXPECT_EQ(out, nullptr) << c.what;
      continue;
    }
    ASSERT_NE(out, nullptr) << c.what;
    EXPECT_EQ(Bytes(out, out + c.out.size()), c.out) << c.what;
    // One byte more or less than the stream gives is refused.
    EXPECT_EQ(image_unpack(p.data(), p.size(), c.out.size() + 1), nullptr) << c.what;
    if (!c.out.empty()) {
      EXPECT_EQ(image_unpack(p.data(), p.size(), c.out.size() - 1), nullptr) << c.what;
    }
  }
  Bytes table_too_long = {1, 2, 3, 4, 0, 3, 9, 9};
  EXPECT_EQ(image_unpack(table_too_long.data(), table_too_long.size(), 0), nullptr);
  Bytes more_fixed_than_codes = {1, 2, 3, 4, 2, 1, 9, 9, 9, 9};
  EXPECT_EQ(image_unpack(more_fixed_than_codes.data(), more_fixed_than_codes.size(), 0), nullptr);
  Bytes zero_code = {1, 2, 3, 4, 0, 1, 0, 5};
  EXPECT_EQ(image_unpack(zero_code.data(), zero_code.size(), 0), nullptr);
}

// ---- a hand-written image: the statements  g = 42;  h = "hi";  ----

uint32_t hash_of(const std::string& s) {
  uint32_t h = 0;
  for (size_t i = 0; i < s.size(); i++) h = (h + ((i + 1) % 17) * static_cast<uint8_t>(s[i])) & 0xFFFFFF;
  return h | (static_cast<uint32_t>(s.size()) << 24);
}

struct Sec {
  uint32_t tag, arg;
  Bytes payload;
};

// The sections of the image, kept apart so that a test can damage one of them.
struct HandImage {
  Bytes records;
  std::vector<uint32_t> words, used;
  std::vector<std::string> names;
  Bytes entries, pairs, pool;
  std::vector<uint32_t> globals, remap, dws, areas, statements;
  std::vector<Sec> extra_after_blocks;   // sections placed after the word blocks
  uint32_t dw_arg = 0, word_arg = 0;

  HandImage() {
    auto rec = [&](std::initializer_list<uint8_t> head, uint32_t w1, uint32_t w2, uint32_t w3) {
      records.insert(records.end(), head.begin(), head.end());
      put32(&records, w1);
      put32(&records, w2);
      put32(&records, w3);
    };
    rec({0x1D, 0, 2, 123}, 53, 0x02000001, 1);          // ASSIGN(g, r1), line 1
    rec({0x12, 0, 0, 0}, 42, 0, 0);                      // 42
    rec({0x1D, 0, 2, 123}, 54, 0x09000003, 2);           // ASSIGN(h, r3), line 2
    rec({0x19, 0, 0, 0}, 1, 3, 2);                       // "hi": text at word 1, capacity 3, length 2
    dw_arg = 4;
    words = {0, 0x00006968};
    used = {2};
    word_arg = 2;
    for (uint32_t i = 0; i < NAME_RESERVED_COUNT; i++) names.push_back(reserved_names[i]);
    names.push_back("g");
    names.push_back("h");
    build_names();
    globals = {53, 54};
    remap = {(0u << 16) | 1, (0u << 16) | 9};
    dws = {2, 10};
    areas = {13};
    statements = {0x0D000000, 0x0D000002};
  }
  void build_names() {
    entries.clear();
    pairs.clear();
    pool.clear();
    std::vector<std::pair<uint32_t, uint32_t>> keys;
    for (uint32_t i = 0; i < names.size(); i++) {
      uint32_t key = hash_of(names[i]);
      entries.push_back(0);
      entries.push_back(static_cast<uint8_t>(names[i].size()));
      entries.push_back(0);
      entries.push_back(0);
      put32(&entries, key);
      put32(&entries, static_cast<uint32_t>(pool.size()));
      pool.insert(pool.end(), names[i].begin(), names[i].end());
      pool.push_back(0);
      pool.push_back(0);
      keys.push_back({key, i});
    }
    std::stable_sort(keys.begin(), keys.end(), [](auto& a, auto& b) { return a.first < b.first; });
    for (auto& k : keys) {
      put32(&pairs, k.first);
      put32(&pairs, k.second);
    }
  }
  Bytes stream() const {
    Bytes s;
    auto section = [&](uint32_t tag, uint32_t arg, const Bytes& payload) {
      put32(&s, tag);
      put32(&s, arg);
      s.insert(s.end(), payload.begin(), payload.end());
    };
    auto list = [&](uint32_t tag, const std::vector<uint32_t>& v) {
      Bytes p;
      for (uint32_t x : v) put32(&p, x);
      section(tag, static_cast<uint32_t>(v.size()), p);
    };
    section(IMAGE_DW_BLOCKS, dw_arg, records);
    Bytes w;
    for (uint32_t x : words) put32(&w, x);
    for (uint32_t x : used) put32(&w, x);
    section(IMAGE_WORD_BLOCKS, word_arg, w);
    for (const Sec& e : extra_after_blocks) section(e.tag, e.arg, e.payload);
    Bytes n = entries;
    n.insert(n.end(), pairs.begin(), pairs.end());
    put32(&n, static_cast<uint32_t>(pool.size()));
    n.insert(n.end(), pool.begin(), pool.end());
    section(IMAGE_NAMES, static_cast<uint32_t>(names.size()), n);
    list(IMAGE_GLOBALS, globals);
    list(IMAGE_REMAP_IN_RECORDS, remap);
    list(IMAGE_DW_IN_RECORDS, dws);
    list(IMAGE_WORDS_IN_RECORDS, areas);
    list(IMAGE_REMAP_IN_WORDS, {});
    list(IMAGE_DW_IN_WORDS, {});
    list(IMAGE_WORDS_IN_WORDS, {});
    list(IMAGE_STATEMENTS, statements);
    put32(&s, IMAGE_END);
    return s;
  }
  // The file: the stream as it is (P = S).
  Bytes file() const {
    Bytes s = stream(), f;
    put32(&f, static_cast<uint32_t>(s.size()));
    put32(&f, static_cast<uint32_t>(s.size()));
    f.insert(f.end(), s.begin(), s.end());
    return f;
  }
};

// A packer of the test's own, with other choices than the compiler's: fixed code 0xE0 for the
// header of an integer record, trailing code 0xE1 for zeros before 0x1D, greedy runs.
Bytes pack_by_hand(const Bytes& s) {
  const uint8_t Z = 0xF0, E2 = 0xF1, E3 = 0xF2, E4 = 0xF3;
  Bytes body;
  for (size_t i = 0; i < s.size();) {
    uint8_t b = s[i];
    if (b == 0) {
      size_t r = 0;
      while (i + r < s.size() && s[i + r] == 0 && r < 255) r++;
      if (r >= 5 && r + 3 <= 255 && r + 3 != 0xFE && i + r < s.size() && s[i + r] == 0x1D) {
        body.push_back(0xE1);
        body.push_back(static_cast<uint8_t>(r + 3));
        i += r + 1;
      } else if (r >= 5) {
        body.push_back(Z);
        body.push_back(static_cast<uint8_t>(r));
        i += r;
      } else {
        uint8_t e = r == 4 ? E4 : r == 3 ? E3 : r == 2 ? E2 : 0;
        // An escape followed by the same byte would read as that byte: plain zeros then.
        if (i + r < s.size() && s[i + r] == e) body.insert(body.end(), r, 0);
        else body.push_back(e);
        i += r;
      }
    } else if (b == 0x12 && i + 3 < s.size() && s[i + 1] == 0 && s[i + 2] == 0 && s[i + 3] == 0) {
      body.push_back(0xE0);
      i += 4;
    } else {
      EXPECT_NE(b, 0xE0);   // a fixed code cannot stand for itself
      body.push_back(b);
      if (b == Z) body.push_back(0);
      else if (b == E2 || b == E3 || b == E4) body.push_back(b);
      else if (b == 0xE1) body.push_back(0xFE);
      i++;
    }
  }
  return packed(Z, E2, E3, E4, {{0xE0, 0x12, 3}}, {{0xE1, 0x1D}}, body);
}

Bytes packed_file(const Bytes& s) {
  Bytes p = pack_by_hand(s), f;
  put32(&f, static_cast<uint32_t>(s.size()));
  put32(&f, static_cast<uint32_t>(p.size()));
  f.insert(f.end(), p.begin(), p.end());
  return f;
}

// ---- running an installation under an outermost frame ----

StatementList installed;
const Bytes* image_in;
int image_module;

void install_current() {
  store_raise_floors();
  install_compiled_module(image_in->data(), image_in->size(), image_module, &installed);
}

// A fresh engine with the modules "src.js" (0) and "h.jo" (1); with a source module first when
// asked, so that the image is relocated and its names merged.
void fresh(bool after_source) {
  frontend_fresh();
  config_reset();
  module_add("src.js", 6);
  module_add("h.jo", 4);
  installed = StatementList{nullptr, 0, 0, false};
  if (after_source) {
    ParseOutcome o = parse_source("var zz = [1, 'two', {k: 3}];\nfunction q(a, b) { return a + b + zz.length; }\n");
    ASSERT_EQ(o.code, 0) << o.text;
    for (uint32_t i = 0; i < frontend_test::parsed.count; i++)
      statement_list_append(&installed, frontend_test::parsed.items[i]);
  }
}

int install(const Bytes& image) {
  image_in = &image;
  image_module = 1;
  return run_catching(install_current);
}

std::string installed_dump(uint32_t from) {
  return tree_dump_list(installed.items + from, installed.count - from, true);
}

TEST(CompiledModule, HandWrittenImageInstallsFirstAndAfterASourceModule) {
  HandImage img;
  const Bytes forms[] = {img.file(), packed_file(img.stream())};
  EXPECT_LT(forms[1].size(), forms[0].size());
  for (const Bytes& file : forms) {
    for (bool after : {false, true}) {
      fresh(after);
      uint32_t before = installed.count;
      ASSERT_EQ(install(file), 0) << message_buffer << (after ? " after a source module" : " first")
                                  << (&file == &forms[0] ? ", unpacked" : ", packed");
      ASSERT_EQ(installed.count, before + 2);
      EXPECT_EQ(installed_dump(before), "ASSIGN@1:0(g,42);ASSIGN@2:0(h,\"hi\")");
      // The module number is written into the nodes; the names are the table's.
      EXPECT_EQ(node_module(installed.items[before]), 1u);
      EXPECT_EQ(name_lookup("g", 1), static_cast<int32_t>(node_arg(installed.items[before], 0)));
      EXPECT_GE(global_find_up(name_lookup("h", 1)), 0);
      if (after) {
        EXPECT_GT(name_lookup("g", 1), 54);   // merged after the source module's names
        EXPECT_GE(global_find_up(name_lookup("zz", 2)), 0);
      } else {
        EXPECT_EQ(name_count, 55u);           // the table was replaced
      }
    }
  }
}

TEST(CompiledModule, UnknownSectionsAreSkippedAndAnEmptyStreamInstallsNothing) {
  HandImage img;
  img.extra_after_blocks.push_back({0x01000C00, 2, Bytes(8, 0xAB)});
  fresh(false);
  ASSERT_EQ(install(img.file()), 0) << message_buffer;
  EXPECT_EQ(installed.count, 2u);
  Bytes empty = {0, 0, 0, 0, 0, 0, 0, 0};
  fresh(false);
  ASSERT_EQ(install(empty), 0) << message_buffer;
  EXPECT_EQ(installed.count, 0u);
}

// Damage done to a good image, and the error that refuses it.
struct Damage {
  const char* what;
  int code;
  std::function<Bytes(HandImage&)> make;
};

void set32(Bytes* b, size_t at, uint32_t v) { std::memcpy(b->data() + at, &v, 4); }

TEST(CompiledModule, DamagedImagesAreRefusedBeforeAnythingOutsideTheirBlocksIsWritten) {
  const Damage table[] = {
      {"a truncated header", IMAGE_ERR_SIZE, [](HandImage& i) { Bytes f = i.file(); f.resize(5); return f; }},
      {"S beyond the file", IMAGE_ERR_SIZE, [](HandImage& i) { Bytes f = i.file(); f.pop_back(); set32(&f, 4, static_cast<uint32_t>(f.size() - 8 + 1)); set32(&f, 0, static_cast<uint32_t>(f.size() - 8 + 1)); return f; }},
      {"P beyond the file", IMAGE_ERR_SIZE, [](HandImage& i) { Bytes f = packed_file(i.stream()); set32(&f, 4, static_cast<uint32_t>(f.size() - 8 + 1)); return f; }},
      {"an unpacked stream shorter than S", IMAGE_ERR_SIZE, [](HandImage& i) { Bytes f = packed_file(i.stream()); set32(&f, 0, static_cast<uint32_t>(i.stream().size() + 1)); return f; }},
      {"an S that the packed stream cannot reach", IMAGE_ERR_SIZE, [](HandImage& i) { Bytes f = packed_file(i.stream()); set32(&f, 0, 0xFFFFF000u); return f; }},
      {"an unpacked stream longer than S", IMAGE_ERR_SIZE, [](HandImage& i) { Bytes f = packed_file(i.stream()); set32(&f, 0, static_cast<uint32_t>(i.stream().size() - 1)); return f; }},
      {"a section running past the stream", IMAGE_ERR_SECTION, [](HandImage& i) { Bytes s = i.stream(); s.erase(s.end() - 8, s.end()); Bytes f; put32(&f, static_cast<uint32_t>(s.size())); put32(&f, static_cast<uint32_t>(s.size())); f.insert(f.end(), s.begin(), s.end()); return f; }},
      {"a tag cut short at the end", IMAGE_ERR_SECTION, [](HandImage& i) { Bytes s = i.stream(); s.erase(s.end() - 2, s.end()); Bytes f; put32(&f, static_cast<uint32_t>(s.size())); put32(&f, static_cast<uint32_t>(s.size())); f.insert(f.end(), s.begin(), s.end()); return f; }},
      {"more records than the stream holds", IMAGE_ERR_SECTION, [](HandImage& i) { i.dw_arg = 0x00100000; return i.file(); }},
      {"a last DW block of 257 records", IMAGE_ERR_SECTION, [](HandImage& i) { i.dw_arg = 257; return i.file(); }},
      {"a count that does not fit", IMAGE_ERR_SECTION, [](HandImage& i) { i.extra_after_blocks.push_back({IMAGE_GLOBALS, 0xFFFFFFFF, {}}); return i.file(); }},
      {"a used count above a block", IMAGE_ERR_SECTION, [](HandImage& i) { i.used = {1025}; return i.file(); }},
      {"a second DW block section", IMAGE_ERR_SECTION, [](HandImage& i) { i.extra_after_blocks.push_back({IMAGE_DW_BLOCKS, 0, {}}); return i.file(); }},
      {"a record position outside the blocks", IMAGE_ERR_POSITION, [](HandImage& i) { i.dws.push_back(1u << 16); return i.file(); }},
      {"a record position past the installed records", IMAGE_ERR_POSITION, [](HandImage& i) { i.dws.push_back(16); return i.file(); }},
      {"a word position past a block's used words", IMAGE_ERR_POSITION, [](HandImage& i) { i.extra_after_blocks.push_back({IMAGE_DW_IN_WORDS, 1, {5, 0, 0, 0}}); return i.file(); }},
      {"a position listed twice", IMAGE_ERR_POSITION, [](HandImage& i) { i.dws.push_back(2); return i.file(); }},
      {"a remapped word also relocated", IMAGE_ERR_POSITION, [](HandImage& i) { i.dws.push_back(1); return i.file(); }},
      {"a DW handle naming no installed record", IMAGE_ERR_POSITION, [](HandImage& i) { set32(&i.records, 8, 0x02000009); return i.file(); }},
      {"a word-area handle outside the installed words", IMAGE_ERR_POSITION, [](HandImage& i) { set32(&i.records, 52, 0x00000400); return i.file(); }},
      {"a name to remap outside the table", IMAGE_ERR_POSITION, [](HandImage& i) { set32(&i.records, 4, 99); return i.file(); }},
      {"a global outside the names", IMAGE_ERR_POSITION, [](HandImage& i) { i.globals.push_back(55); return i.file(); }},
      {"a statement naming no installed record", IMAGE_ERR_POSITION, [](HandImage& i) { i.statements.push_back(0x0D000007); return i.file(); }},
      {"a statement whose type is not its record's", IMAGE_ERR_POSITION, [](HandImage& i) { i.statements.push_back(0x02000000); return i.file(); }},
      {"a relocation list before the blocks", IMAGE_ERR_POSITION, [](HandImage& i) {
         Bytes s;
         put32(&s, IMAGE_DW_IN_RECORDS);
         put32(&s, 1);
         put32(&s, 2);
         Bytes rest = i.stream();
         s.insert(s.end(), rest.begin(), rest.end());
         Bytes f;
         put32(&f, static_cast<uint32_t>(s.size()));
         put32(&f, static_cast<uint32_t>(s.size()));
         f.insert(f.end(), s.begin(), s.end());
         return f;
       }},
      {"a name entry whose pool offset lies outside the pool", IMAGE_ERR_NAMES, [](HandImage& i) { set32(&i.entries, 53 * 12 + 8, 5000); return i.file(); }},
      {"a name entry whose length runs past the pool", IMAGE_ERR_NAMES, [](HandImage& i) { i.entries[54 * 12 + 1] = 40; return i.file(); }},
      {"a name whose key is not its text's", IMAGE_ERR_NAMES, [](HandImage& i) { i.entries[53 * 12 + 4] ^= 1; return i.file(); }},
      {"pairs out of key order", IMAGE_ERR_NAMES, [](HandImage& i) { std::swap_ranges(i.pairs.begin(), i.pairs.begin() + 8, i.pairs.begin() + 8); return i.file(); }},
      {"a reserved name replaced", IMAGE_ERR_NAMES, [](HandImage& i) { i.names[13] = "nama"; i.build_names(); return i.file(); }},
      {"fewer names than the reserved ones", IMAGE_ERR_NAMES, [](HandImage& i) { i.names.resize(20); i.build_names(); i.globals.clear(); i.remap.clear(); return i.file(); }},
  };
  for (const Damage& d : table) {
    for (bool after : {false, true}) {
      HandImage img;
      Bytes file = d.make(img);
      fresh(after);
      uint32_t names = name_count, statements = installed.count;
      // (The error record itself takes words of the word area, so only the DW blocks are compared.)
      int globals = global_top, dw_block = dw_cur_block;
      EXPECT_EQ(install(file), d.code) << d.what;
      EXPECT_NE(std::string(message_buffer).find("(h.jo:0)"), std::string::npos) << d.what << ": " << message_buffer;
      EXPECT_EQ(name_count, names) << d.what;
      EXPECT_EQ(global_top, globals) << d.what;
      EXPECT_EQ(installed.count, statements) << d.what;
      EXPECT_EQ(dw_cur_block, dw_block) << d.what;
    }
  }
}

TEST(CompiledModule, BlocksThatWouldPassTheHandleLimitsAreBufferOverflows) {
  HandImage img;
  Bytes file = img.file();
  fresh(false);
  dw_cur_block = 4093;   // the image's block would be 4,094 + 1 = 4,095
  dw_next_slot = 256;
  EXPECT_EQ(install(file), 1435);
  EXPECT_NE(std::string(message_buffer).find("Buffer Overflow(Area DW16)"), std::string::npos) << message_buffer;
  fresh(false);
  word_floor = 1022;
  EXPECT_EQ(install(file), 1435);
  EXPECT_NE(std::string(message_buffer).find("Buffer Overflow(Area Free)"), std::string::npos) << message_buffer;
  store_reset();
}

}  // namespace
