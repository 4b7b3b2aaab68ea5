// Program-tree records: make_node layouts and references, the stop-point flag, and the name
// table (reserved names, keys, interning at scale, replacement of the tables).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend_test_util.h"

namespace {

class FrontendTree : public ::testing::Test {
 protected:
  void SetUp() override { frontend_fresh(); }
};

static unsigned refs(DW h) { return dw_rec(h)[0] >> 4; }

TEST_F(FrontendTree, NodeLayouts) {
  DW a = make_int(1, 0), b = make_int(2, 0), c = make_int(3, 0);
  parse_module = 5;
  DW args[3] = {a, b, c};
  DW n0 = make_node(OP_BREAK, 0, nullptr, make_position(3, 4));
  DW n2 = make_node(OP_ADD, 2, args, make_position(70000, 40000));
  DW n3 = make_node(OP_COND, 3, args, 9);
  const NodeRec* r2 = node_rec(n2);
  EXPECT_EQ(dw_type(n2), T_NODE);
  EXPECT_EQ(r2->op, OP_ADD);
  EXPECT_EQ(r2->argc, 2);
  EXPECT_EQ(r2->a1, a);
  EXPECT_EQ(r2->a2, b);
  EXPECT_EQ(r2->pos, make_position(70000 & 0xFFFF, 40000 & 0x7FFF));
  EXPECT_EQ(r2->modflags, 5 | NODE_NO_STOP);   // OP_ADD is never a stop point
  EXPECT_EQ(node_rec(n0)->a1, 0u);
  EXPECT_EQ(node_rec(n0)->modflags, 5);        // OP_BREAK is a stop point
  EXPECT_EQ(node_position(n0), make_position(3, 4));
  const NodeRec* r3 = node_rec(n3);
  EXPECT_EQ(r3->argc, 3);
  EXPECT_EQ(r3->a2, 0u);
  EXPECT_EQ(node_args(n3)[2], c);
  EXPECT_EQ(refs(a), 2u);   // held by two nodes
  EXPECT_EQ(refs(c), 1u);
  // Plain numbers and area handles pass through the reference taking unchanged.
  DW nums[4] = {0x12345, 7, 0, 0x00100000};
  DW f = make_node(OP_FOR_OF, 4, nums, 0);
  EXPECT_EQ(node_arg(f, 0), 0x12345u);
  EXPECT_EQ(node_arg(f, 3), 0x00100000u);
  // No-stop mode marks stop-point opcodes too.
  no_stop_mode = true;
  EXPECT_TRUE(node_no_stop(make_node(OP_BREAK, 0, nullptr, 0)));
  no_stop_mode = false;
  // The module number keeps 7 bits.
  parse_module = 130;
  EXPECT_EQ(node_module(make_node(OP_BREAK, 0, nullptr, 0)), 2u);
  parse_module = 0;
}

TEST_F(FrontendTree, EscapedCounts) {
  std::vector<DW> many(300);
  for (uint32_t i = 0; i < 300; i++) many[i] = i + NAME_RESERVED_COUNT;
  DW block = make_node(OP_BLOCK, 300, many.data(), make_position(1, 1));
  EXPECT_EQ(node_rec(block)->argc, 255);
  EXPECT_EQ(node_rec(block)->pos, 300u);
  EXPECT_EQ(node_argc(block), 300u);
  EXPECT_EQ(node_position(block), 0u);
  DW block254 = make_node(OP_BLOCK, 254, many.data(), 0);
  EXPECT_EQ(node_rec(block254)->argc, 254);
  DW run = make_node(OP_ADD, 300, many.data(), make_position(4, 2));
  EXPECT_EQ(node_rec(run)->argc, 255);
  EXPECT_EQ(node_argc(run), 300u);
  EXPECT_EQ(node_position(run), make_position(4, 2));
  EXPECT_EQ(node_arg(run, 299), many[299]);
}

TEST_F(FrontendTree, StopPointTable) {
  const int stops[][2] = {{101, 104}, {123, 131}, {139, 139}, {141, 143}, {147, 154}, {156, 158},
                          {160, 160}, {162, 167}, {169, 227}};
  for (int op = 100; op <= 228; op++) {
    bool expected = false;
    for (const auto& r : stops) expected |= op >= r[0] && op <= r[1];
    EXPECT_EQ(is_stop_point_opcode(static_cast<unsigned>(op)), expected) << op;
  }
  int n = 0;
  while (stop_point_opcodes[n]) n++;
  EXPECT_EQ(n, 94);
  EXPECT_STREQ(opcode_name(OP_SQL_AGGREGATE), "SQL_AGGREGATE");
  EXPECT_STREQ(opcode_name(OP_POST_INC), "POST_INC");
}

TEST_F(FrontendTree, ReservedNames) {
  EXPECT_EQ(name_count, static_cast<uint32_t>(NAME_RESERVED_COUNT));
  for (uint32_t i = 0; i < NAME_RESERVED_COUNT; i++) {
    EXPECT_STREQ(name_text(i), reserved_names[i]);
    EXPECT_EQ(name_intern_text(reserved_names[i], std::strlen(reserved_names[i])), i);
  }
  EXPECT_STREQ(name_text(NAME_UNDEFINED), "undefined");
  EXPECT_STREQ(name_text(NAME_NUMBER), "Number");
  EXPECT_STREQ(name_text(NAME_EXCEPTION), "Exception");
  EXPECT_STREQ(name_text(NAME_SET_OP), "$set");
  EXPECT_STREQ(name_text(NAME_NEW), "new");
}

TEST_F(FrontendTree, NameKeys) {
  // hash = sum of (i mod 17) * byte over positions i = 1, 2, ...; key = hash | length << 24.
  const char* s = "abcdefghijklmnopqrs";   // 19 bytes: positions 17 and 18 weigh 0 and 1
  uint32_t h = 0;
  for (int i = 0; i < 19; i++) h += ((i + 1) % 17) * static_cast<uint8_t>(s[i]);
  EXPECT_EQ(name_hash(s, 19), h & 0xFFFFFF);
  uint32_t id = name_intern_text(s, 19);
  EXPECT_EQ(name_entries[id].key, (h & 0xFFFFFF) | (19u << 24));
  EXPECT_EQ(name_entries[id].len, 19);
  EXPECT_EQ(name_entries[id].flags, 0);
  EXPECT_STREQ(name_pool + name_entries[id].offset, s);
  // A caller-supplied key is taken as the hash.
  EXPECT_EQ(name_intern(s, 19, name_entries[id].key), id);
  EXPECT_EQ(name_lookup("zzz", 3), -1);
  EXPECT_EQ(name_lookup(s, 19), static_cast<int32_t>(id));
  static char long_name[210];
  std::memset(long_name, 'q', 201);
  EXPECT_EQ(run_catching([] { name_intern_text(long_name, 201); }), 1005);
}

// Names with equal keys (same length and hash) are told apart by their text.
TEST_F(FrontendTree, EqualKeys) {
  // Two-letter names x + 2y collide often ("ad" and "cc"); search such a pair.
  std::string a, b;
  for (char x = 'a'; x <= 'z' && a.empty(); x++)
    for (char y = 'a'; y <= 'z' && a.empty(); y++)
      for (char z = 'a'; z <= 'z'; z++)
        for (char w = 'a'; w <= 'z'; w++) {
          std::string p = {x, y}, q = {z, w};
          if (p != q && name_hash(p.data(), 2) == name_hash(q.data(), 2)) {
            a = p;
            b = q;
            break;
          }
        }
  ASSERT_FALSE(a.empty());
  uint32_t ia = name_intern_text(a.data(), 2), ib = name_intern_text(b.data(), 2);
  EXPECT_NE(ia, ib);
  EXPECT_EQ(name_entries[ia].key, name_entries[ib].key);
  EXPECT_EQ(name_intern_text(a.data(), 2), ia);
  EXPECT_EQ(name_intern_text(b.data(), 2), ib);
  name_table_flush();
  EXPECT_EQ(name_intern_text(a.data(), 2), ia);
  EXPECT_EQ(name_intern_text(b.data(), 2), ib);
}

TEST_F(FrontendTree, ManyNames) {
  // 50,000 names interned and looked up again in a mixed order; the pair array ends up sorted.
  const int N = 50000;
  std::vector<uint32_t> ids(N);
  char buf[32];
  for (int i = 0; i < N; i++) {
    int n = std::snprintf(buf, sizeof buf, "v%d_%x", i, i * 7919);
    ids[i] = name_intern_text(buf, static_cast<size_t>(n));
    EXPECT_EQ(ids[i], static_cast<uint32_t>(NAME_RESERVED_COUNT + i));
    if (i % 3 == 0) {
      int j = i / 2;
      int m = std::snprintf(buf, sizeof buf, "v%d_%x", j, j * 7919);
      EXPECT_EQ(name_intern_text(buf, static_cast<size_t>(m)), ids[j]);
    }
  }
  EXPECT_EQ(name_count, static_cast<uint32_t>(NAME_RESERVED_COUNT + N));
  for (int i = N - 1; i >= 0; i -= 7) {
    int n = std::snprintf(buf, sizeof buf, "v%d_%x", i, i * 7919);
    EXPECT_EQ(name_lookup(buf, static_cast<size_t>(n)), static_cast<int32_t>(ids[i]));
  }
  name_table_flush();
  EXPECT_TRUE(std::is_sorted(name_keys, name_keys + name_count,
                             [](const NameKey& x, const NameKey& y) { return x.key < y.key; }));
  std::vector<bool> seen(name_count);
  for (uint32_t i = 0; i < name_count; i++) {
    ASSERT_LT(name_keys[i].index, name_count);
    EXPECT_EQ(name_entries[name_keys[i].index].key, name_keys[i].key);
    seen[name_keys[i].index] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<long>(name_count));
}

// The compiled-module installer replaces the tables as stored; lookups follow the new tables.
TEST_F(FrontendTree, TablesReplacedWholesale) {
  uint32_t x = name_intern_text("alpha", 5);
  name_table_flush();
  std::vector<NameEntry> entries(name_entries, name_entries + name_count);
  std::vector<NameKey> keys(name_keys, name_keys + name_count);
  std::string pool(name_pool, name_pool_used);
  name_table_reset();
  EXPECT_EQ(name_lookup("alpha", 5), -1);
  std::memcpy(name_entries, entries.data(), sizeof(NameEntry) * entries.size());
  std::memcpy(name_keys, keys.data(), sizeof(NameKey) * keys.size());
  name_count = static_cast<uint32_t>(entries.size());
  std::memcpy(name_pool, pool.data(), pool.size());
  name_pool_used = static_cast<uint32_t>(pool.size());
  EXPECT_EQ(name_lookup("alpha", 5), static_cast<int32_t>(x));
  EXPECT_EQ(name_intern_text("beta", 4), x + 1);
  EXPECT_EQ(name_intern_text("alpha", 5), x);
}

}  // namespace
