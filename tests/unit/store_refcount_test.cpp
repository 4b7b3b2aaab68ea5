// Value store: reference counting and the destruction of values.
#include <cstdint>
#include <vector>

#include "tests/unit/store_test_support.h"

class RefcountTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    run_phase();
  }
  // An area-resident value of the type (header byte at the start of its storage).
  static DW area_value(unsigned type, size_t size) {
    void* p;
    DW a = area_new(size, &p);
    static_cast<uint8_t*>(p)[0] = static_cast<uint8_t>(type);
    return (a & 0xF0FFFFFF) | (type << 24);
  }
  static bool area_slot_free(DW h) { return std::memcmp(area_ptr(h), AREA_FREE_MARKER, 9) == 0; }
};

TEST_F(RefcountTest, CountsMoveByOneAndOnlyReleaseAndDiscardDestroy) {
  DW v = make_int(1, 0);
  dw_unref(v);   // never below 0, never destroys
  EXPECT_EQ(header_count(v), 0u);
  EXPECT_EQ(dw_free_total, 0u);
  EXPECT_EQ(dw_ref(v), v);
  dw_ref(v);
  EXPECT_EQ(header_count(v), 2u);
  dw_discard(v);   // still held: nothing
  dw_unref(v);
  dw_release(v);   // 1 -> 0: destroyed
  EXPECT_EQ(*dw_rec(v), HDR_FREE);
  EXPECT_EQ(dw_free_total, 1u);
  DW t = make_float(2.5, 0);
  dw_discard(t);   // an unkept temporary
  EXPECT_EQ(*dw_rec(t), HDR_FREE);
  DW u = make_int(3, 0);
  dw_release(u);   // count 0 already: destroyed too
  EXPECT_EQ(*dw_rec(u), HDR_FREE);
  EXPECT_EQ(dw_free_total, 1u);   // each new record took the one freed before it
}

TEST_F(RefcountTest, CountFifteenIsPermanent) {
  DW s = make_string("keep", 4, 1);
  for (int i = 0; i < 30; i++) dw_ref(s);
  EXPECT_EQ(header_count(s), 15u);
  for (int i = 0; i < 100; i++) {
    dw_release(s);
    dw_unref(s);
    dw_discard(s);
  }
  EXPECT_EQ(header_count(s), 15u);
  EXPECT_EQ(dw_free_total, 0u);
  EXPECT_STREQ(str_text(s), "keep");
}

TEST_F(RefcountTest, UncountedHandlesAreLeftAlone) {
  // With an empty store any touch of storage would fault.
  store_reset();
  run_phase();
  const DW handles[] = {DW_UNDEFINED, DW_TRUE, DW_FALSE, DW_NULL, DW_NAN, 77,
                        INDEX_KEY_BASE + 5, 0x0F0ABCDE, 0xFF000001, 0x10000007, 0x1F000002};
  for (DW h : handles) {
    EXPECT_EQ(dw_ref(h), h);
    dw_unref(h);
    dw_release(h);
    dw_discard(h);
    dw_destroy(dw_type(h), h);
  }
  EXPECT_EQ(dw_cur_block, -1);
}

TEST_F(RefcountTest, DestroyGivesBackEveryPart) {
  DW a = make_string("a", 1, 0), b = make_string(nullptr, 300, 0), n = make_int(4, 0);
  DW elems[] = {a, b, n, a, DW_NULL, INDEX_KEY_BASE + 1};
  DW arr = make_array(elems, 6, true);
  DW list = reinterpret_cast<ArrRec*>(dw_rec(arr))->elems;
  DW textA = str_rec(a)->text, textB = str_rec(b)->text;
  EXPECT_EQ(header_count(a), 2u);
  dw_release(dw_ref(arr));
  EXPECT_EQ(dw_free_total, 4u);   // arr, a (once, though held twice), b, n
  for (DW h : {arr, a, b, n}) EXPECT_EQ(*dw_rec(h), HDR_FREE);
  for (DW h : {list, textA, textB}) EXPECT_TRUE(area_slot_free(h));
}

TEST_F(RefcountTest, DestroyReleasesValuesButNotKeysOfPairLists) {
  DW kept = make_string("kept", 4, 1);
  DW gone = make_float(1.5, 0);
  DW pairs[] = {40, kept, 41, gone};
  DW obj = make_object(pairs, 2);
  DW key = make_int(9, 1);   // a counted key would be released if keys were
  DW kpairs[] = {key, dw_ref(kept), INDEX_KEY_BASE + 2, dw_ref(obj)};
  DW kh;
  KeyedRec* kr = reinterpret_cast<KeyedRec*>(dw_new(T_KEYED, &kh, 0));
  void* p;
  kr->pairs = area_new(sizeof kpairs, &p);
  std::memcpy(p, kpairs, sizeof kpairs);
  kr->count = 2;
  kr->cap = 2;
  EXPECT_EQ(header_count(kept), 3u);
  dw_release(dw_ref(kh));
  EXPECT_EQ(header_count(kept), 1u);
  EXPECT_EQ(header_count(key), 1u);
  EXPECT_EQ(*dw_rec(obj), HDR_FREE);
  EXPECT_EQ(*dw_rec(gone), HDR_FREE);
  EXPECT_EQ(*dw_rec(kh), HDR_FREE);
}

TEST_F(RefcountTest, NodesAndFunctionsReleaseOperandsAndParameters) {
  DW shared = make_int(1, 1);
  auto node = [](unsigned op, uint32_t argc, const DW* args) {
    DW h;
    NodeRec* r = reinterpret_cast<NodeRec*>(dw_new(T_NODE, &h, 0));
    r->op = static_cast<uint8_t>(op);
    if (argc <= 2) {
      r->argc = static_cast<uint8_t>(argc);
      r->a1 = argc > 0 ? dw_ref(args[0]) : 0;
      r->a2 = argc > 1 ? dw_ref(args[1]) : 0;
      return h;
    }
    void* p;
    r->a1 = area_new(4 * argc, &p);
    for (uint32_t i = 0; i < argc; i++) static_cast<DW*>(p)[i] = dw_ref(args[i]);
    r->argc = argc < 255 ? static_cast<uint8_t>(argc) : 255;
    if (argc >= 255) {
      if (op == 155) r->pos = argc;
      else r->a2 = argc;
    }
    return h;
  };
  DW two[] = {shared, shared, shared};
  DW inl = node(118, 2, two);
  DW listed = node(118, 3, two);
  EXPECT_EQ(header_count(shared), 1u + 2 + 3);
  dw_ref(inl);
  dw_ref(listed);
  // A function: its body and its two parameters; local names are not counted.
  DW params[] = {dw_ref(make_string("p", 1, 0)), dw_ref(listed), 123};
  DW fh;
  FuncRec* f = reinterpret_cast<FuncRec*>(dw_new(T_FUNC, &fh, 1));
  f->body = dw_ref(inl);
  f->nparams = 2;
  f->nlocals = 1;
  void* p;
  f->names = area_new(sizeof params, &p);
  std::memcpy(p, params, sizeof params);
  dw_release(fh);
  EXPECT_EQ(header_count(inl), 1u);
  EXPECT_EQ(header_count(listed), 1u);
  dw_release(inl);
  dw_release(listed);
  EXPECT_EQ(*dw_rec(inl), HDR_FREE);
  EXPECT_EQ(*dw_rec(listed), HDR_FREE);
  EXPECT_EQ(header_count(shared), 1u);
  // 255 operands and more: the count is escaped to word 3 (blocks) or word 2 (n-ary runs).
  for (unsigned op : {155u, 118u}) {
    std::vector<DW> many;
    for (int i = 0; i < 300; i++) many.push_back(make_int(i, 0));
    DW big = node(op, 300, many.data());
    uint32_t before = dw_free_total;
    dw_release(dw_ref(big));
    EXPECT_EQ(dw_free_total - before, 301u) << op;
    for (DW m : many) EXPECT_EQ(*dw_rec(m), HDR_FREE);
  }
}

TEST_F(RefcountTest, CountedNodeOperandsFallToZero) {
  DW a = make_string("x", 1, 0), b = make_int(2, 0), c = make_int(3, 0);
  DW h;
  NodeRec* r = reinterpret_cast<NodeRec*>(dw_new(T_NODE, &h, 1));
  r->argc = 3;
  r->op = 118;
  void* p;
  r->a1 = area_new(12, &p);
  DW* w = static_cast<DW*>(p);
  w[0] = dw_ref(a);
  w[1] = dw_ref(b);
  w[2] = dw_ref(c);
  DW list = r->a1;
  dw_release(h);
  for (DW v : {h, a, b, c}) EXPECT_EQ(*dw_rec(v), HDR_FREE);
  EXPECT_TRUE(area_slot_free(list));
}

TEST_F(RefcountTest, ConnectionStaysAtCountZero) {
  DW conn = area_value(T_CONN, 64);
  dw_ref(conn);
  dw_release(conn);
  EXPECT_EQ(header_count(conn), 0u);
  EXPECT_FALSE(area_slot_free(conn));
  dw_discard(conn);
  EXPECT_FALSE(area_slot_free(conn));
  void* p;
  EXPECT_NE(area_new(64, &p) & 0x00FFFFFF, conn & 0x00FFFFFF);
}

TEST_F(RefcountTest, AreaResidentValuesGiveBackTheirStorage) {
  for (unsigned t : {unsigned{T_STMT}, unsigned{T_ERROR}, unsigned{T_REGEXP}}) {
    DW v = area_value(t, 48);
    EXPECT_EQ(header_count(dw_ref(v)), 1u);
    dw_release(v);
    EXPECT_TRUE(area_slot_free(v)) << t;
    dw_release(v);   // its header now reads as permanent: nothing happens twice
    void* p;
    EXPECT_EQ(area_new(48, &p), v & 0x00FFFFFF) << t;
  }
  // Large ones live in area 15.
  DW big = area_value(T_ERROR, 5000);
  dw_release(dw_ref(big));
  EXPECT_EQ(area15_free, 1u);
}

TEST_F(RefcountTest, ValueHoldingItselfIsDestroyedOnce) {
  DW arr = make_array(nullptr, 0, false);
  ArrRec* r = reinterpret_cast<ArrRec*>(dw_rec(arr));
  r->count = 2;
  DW* e = static_cast<DW*>(area_ptr(r->elems));
  e[0] = dw_ref(arr);
  e[1] = dw_ref(make_int(5, 0));
  dw_ref(arr);   // the variable holding it
  dw_release(arr);
  EXPECT_EQ(header_count(arr), 1u);   // the self reference keeps it
  dw_destroy(T_ARRAY, arr);           // forced, as a scope end would after breaking the cycle
  EXPECT_EQ(dw_free_total, 2u);
  EXPECT_EQ(sized_areas[2].free_blocks, 1u);
}

TEST_F(RefcountTest, LongChainIsDestroyedWithoutRecursion) {
  const int depth = 300000;
  DW inner = make_string("leaf", 4, 0);
  for (int i = 0; i < depth; i++) inner = make_array(&inner, 1, true);
  dw_release(dw_ref(inner));
  EXPECT_EQ(dw_free_total, static_cast<uint32_t>(depth + 1));
}

TEST_F(RefcountTest, LoadPhaseDestroyReleasesChildrenButFreesNothing) {
  store_reset();
  DW s = make_string("s", 1, 1);
  DW arr = make_array(&s, 1, true);
  dw_release(dw_ref(arr));
  EXPECT_EQ(header_count(s), 1u);
  EXPECT_EQ(dw_free_total, 0u);
  EXPECT_NE(*dw_rec(arr), HDR_FREE);
  dw_release(arr);   // never twice
  EXPECT_EQ(header_count(s), 1u);
}
