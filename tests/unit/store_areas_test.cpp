// Value store: handles, the DW area, the word area, the sized areas, area 15, floors, block
// installation, limits and the name pool.
#include <cstdint>
#include <iterator>
#include <set>
#include <vector>

#include "tests/unit/store_test_support.h"

using AreasTest = StoreTest;

// ---- DW records ----

TEST_F(AreasTest, RecordHandlesCountSlotsThenBlocks) {
  DW h;
  uint8_t* rec = dw_new(T_INT, &h, 1);
  EXPECT_EQ(h, DW{T_INT} << 24);
  EXPECT_EQ(rec[0], T_INT | 0x10);
  EXPECT_EQ(rec, dw_rec(h));
  for (int i = 1; i < 256; i++) dw_new(T_FLOAT, &h, 0);
  EXPECT_EQ(h, (DW{T_FLOAT} << 24) | 255);
  dw_new(T_STRING, &h, 0);   // the 257th record
  EXPECT_EQ(h, (DW{T_STRING} << 24) | (1u << 8) | 0);
  EXPECT_EQ(dw_rec(h), dw_blocks[1]);
}

TEST_F(AreasTest, NewRecordIsZeroedEvenWhenReused) {
  run_phase();
  DW h;
  uint8_t* rec = dw_new(T_INT, &h, 0);
  std::memset(rec + 1, 0xAB, 15);
  dw_release(dw_ref(h));
  DW again;
  uint8_t* rec2 = dw_new(T_FLOAT, &again, 1);
  EXPECT_EQ(again, (h & 0x00FFFFFF) | (DW{T_FLOAT} << 24));
  EXPECT_EQ(rec2[0], T_FLOAT | 0x10);
  for (int i = 1; i < 16; i++) EXPECT_EQ(rec2[i], 0) << i;
}

TEST_F(AreasTest, FreedRecordsAreReusedHighestFirstThenBlocksBelow) {
  run_phase();
  std::vector<DW> hs(600);
  for (auto& h : hs) h = make_int(1, 1);
  // Free slots 3 and 7 of block 0 and slot 5 of block 2.
  for (int i : {3, 7, 2 * 256 + 5}) dw_release(hs[i]);
  EXPECT_EQ(dw_free_total, 3u);
  const DW want[] = {hs[2 * 256 + 5], hs[7], hs[3]};
  for (DW w : want) EXPECT_EQ(make_int(0, 0) & 0x00FFFFFF, w & 0x00FFFFFF);
  EXPECT_EQ(dw_free_total, 0u);
  // Then bump allocation goes on after the last record handed out.
  EXPECT_EQ(make_int(0, 0) & 0x00FFFFFF, (hs[599] & 0x00FFFFFF) + 1);
}

// Random frees and allocations over many blocks: every reused record is the highest free one
// (highest block, then highest slot), as a plain set of the freed handles says.
TEST_F(AreasTest, ReuseAlwaysTakesTheHighestFreeRecord) {
  run_phase();
  std::vector<DW> live;
  for (int i = 0; i < 3000; i++) live.push_back(make_int(i, 1));
  std::set<uint32_t> freed;   // block << 8 | slot
  uint32_t seed = 12345;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int step = 0; step < 40000; step++) {
    if (!live.empty() && (freed.empty() || rnd(3) != 0)) {
      size_t k = rnd(static_cast<uint32_t>(live.size()));
      DW h = live[k];
      live[k] = live.back();
      live.pop_back();
      dw_release(h);
      freed.insert(h & 0xFFFFF);
    } else {
      DW h = make_int(step, 1);
      ASSERT_EQ(h & 0xFFFFF, *freed.rbegin()) << step;
      freed.erase(std::prev(freed.end()));
      live.push_back(h);
    }
    ASSERT_EQ(dw_free_total, freed.size());
  }
  // With nothing free, bump allocation goes on after the last record handed out.
  while (!freed.empty()) {
    ASSERT_EQ(make_int(0, 1) & 0xFFFFF, *freed.rbegin());
    freed.erase(std::prev(freed.end()));
  }
  EXPECT_EQ(make_int(0, 1) & 0xFFFFF, 3000u);
}

TEST_F(AreasTest, LoadPhaseNeverFreesRecordsOrStorage) {
  DW s = make_string("abc", 3, 1);
  DW text = str_rec(s)->text;
  dw_release(s);
  EXPECT_EQ(dw_free_total, 0u);
  DW next = make_int(5, 0);
  EXPECT_NE(next & 0x00FFFFFF, s & 0x00FFFFFF);
  void* p;
  EXPECT_NE(area_new(4, &p), text);
}

TEST_F(AreasTest, DwAreaLimitRaisesAndStaysUsable) {
  DW h = 0;
  int code = raised_code([&] {
    for (;;) dw_new(T_INT, &h, 0);
  });
  EXPECT_EQ(code, 1435);
  EXPECT_TRUE(message_ends_with("Buffer Overflow(Area DW)"));
  EXPECT_EQ(h, (DW{T_INT} << 24) | (4095u << 8) | 255);   // every block number was used, none past
  EXPECT_EQ(dw_rec(h), dw_blocks[4095] + 255 * 16);
  // In the run phase a freed record can still be had.
  run_phase();
  dw_release(dw_ref(h));
  DW again;
  EXPECT_EQ(raised_code([&] { dw_new(T_FLOAT, &again, 0); }), 0);
  EXPECT_EQ(again & 0x00FFFFFF, h & 0x00FFFFFF);
}

// ---- the word area ----

TEST_F(AreasTest, WordAreaHandlesAndFirstFit) {
  void *p, *q, *r;
  DW a = area_new(10, &p);   // floor(14 / 4) = 3 words
  DW b = area_new(0, &q);    // 1 word
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, 3u);
  EXPECT_EQ(static_cast<uint8_t*>(q), static_cast<uint8_t*>(p) + 12);
  EXPECT_EQ(area_ptr(b), q);
  // 4,084 bytes (1,022 words) do not fit after 4 words: a new block; later small ones go back.
  DW c = area_new(4084, &r);
  EXPECT_EQ(c, 1u << 10);
  DW d = area_new(8, &r);
  EXPECT_EQ(d, 4u);
  DW e = area_new(92, &r);   // 24 words: block 1 has no room for them, block 0 has
  EXPECT_EQ(e, 7u);
  EXPECT_EQ(word_used[0], 31u);
  EXPECT_EQ(word_used[1], 1022u);
}

TEST_F(AreasTest, LargeWordRequestSpansConsecutiveBlocks) {
  void* p;
  area_new(3200, &p);   // 801 words of block 0 in use
  std::memset(p, 0x5A, 3200);
  DW big = area_new(5000, &p);   // 1,251 words: one allocation over blocks 1 and 2
  EXPECT_EQ(big, 1u << 10);
  EXPECT_EQ(word_blocks[2], word_blocks[1] + 4096);
  EXPECT_EQ(word_used[1], 1024u);
  EXPECT_EQ(word_used[2], 227u);
  EXPECT_EQ(word_last, 2);
  const uint8_t* bytes = static_cast<const uint8_t*>(p);
  for (int i = 0; i < 5004; i++) ASSERT_EQ(bytes[i], 0) << i;
  // 500 words fit neither block 0 nor block 1; block 2 takes them after its 227.
  DW small = area_new(1996, &p);
  EXPECT_EQ(small, (2u << 10) + 227);
  EXPECT_EQ(p, word_blocks[2] + 227 * 4);
}

TEST_F(AreasTest, WordAreaLimitRaisesAndNeverPassesBlock1023) {
  void* p;
  int code = raised_code([&] {
    for (;;) area_new(3000, &p);   // 751 words: one new block each time
  });
  EXPECT_EQ(code, 1435);
  EXPECT_TRUE(message_ends_with("Buffer Overflow(Area Free)"));
  EXPECT_EQ(word_last, 1023);
  // A request that could never fit 1,024 blocks is refused outright.
  store_reset();
  EXPECT_EQ(raised_code([&] { area_new(size_t{5} << 22, &p); }), 1435);
}

// ---- sized areas and area 15 ----

TEST_F(AreasTest, RunPhaseAreaChosenBySize) {
  run_phase();
  struct Case {
    size_t size;
    unsigned area;
  };
  const Case cases[] = {{0, 1},      {31, 1},     {32, 2},     {63, 2},     {64, 3},     {95, 3},
                        {96, 4},     {127, 4},    {128, 5},    {191, 5},    {192, 6},    {255, 6},
                        {256, 7},    {383, 7},    {384, 8},    {447, 8},    {448, 9},    {511, 9},
                        {512, 10},   {767, 10},   {768, 11},   {1023, 11},  {1024, 12},  {1279, 12},
                        {1280, 13},  {1535, 13},  {1536, 14},  {2047, 14},  {2048, 15},  {100000, 15}};
  for (const Case& c : cases) {
    void* p;
    DW h = area_new(c.size, &p);
    EXPECT_EQ((h >> 20) & 0xF, c.area) << c.size;
    EXPECT_EQ(area_ptr(h), p) << c.size;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u) << c.size;
    if (c.area < 15) {
      EXPECT_GE(AREA_ELEM_SIZE[c.area], c.size ? c.size : 1);
    }
    std::memset(p, 0xEE, c.size);   // the whole request is usable (ASan checks the bounds)
  }
}

TEST_F(AreasTest, SizedAreaHandlesFillBlocksThenReuseHighestFreeSlot) {
  run_phase();
  void* p;
  std::vector<DW> hs;
  for (int i = 0; i < 10; i++) hs.push_back(area_new(100, &p));   // area 4, 128 per block
  EXPECT_EQ(hs[0], 4u << 20);
  EXPECT_EQ(hs[9], (4u << 20) | 9);
  area_release(hs[3]);
  area_release(hs[7]);
  EXPECT_EQ(std::memcmp(area_ptr(hs[3]), AREA_FREE_MARKER, 9), 0);
  EXPECT_EQ(area_new(120, &p), hs[7]);
  EXPECT_EQ(area_new(97, &p), hs[3]);
  EXPECT_EQ(area_new(100, &p), (4u << 20) | 10);   // no free slot left: the bump index moves on
  // A reused element that its holder never wrote to is still given back.
  area_release(hs[3]);
  EXPECT_EQ(area_new(100, &p), hs[3]);
  area_release(hs[3]);
  EXPECT_EQ(area_new(100, &p), hs[3]);
  // The 129th element of the area opens block 1.
  for (int i = 11; i < 128; i++) area_new(100, &p);
  EXPECT_EQ(area_new(100, &p), (4u << 20) | (1u << 8));
}

// A holder may write any bytes, the free marker included: such a slot is still live (never
// handed out again) and is still given back when released.
TEST_F(AreasTest, SlotHoldingTheFreeMarkerBytesIsNotFree) {
  run_phase();
  void* p;
  std::vector<DW> hs;
  std::vector<void*> ps;
  for (int i = 0; i < 5; i++) {
    hs.push_back(area_new(40, &p));   // area 2
    ps.push_back(p);
  }
  std::memcpy(ps[3], AREA_FREE_MARKER, sizeof AREA_FREE_MARKER);
  area_release(hs[1]);
  area_release(hs[4]);
  EXPECT_EQ(area_new(40, &p), hs[4]);
  EXPECT_EQ(area_new(40, &p), hs[1]);
  EXPECT_EQ(area_new(40, &p), (2u << 20) | 5);
  area_release(hs[3]);
  EXPECT_EQ(area_new(40, &p), hs[3]);
}

// Random releases and requests over many blocks of one area: every reused slot is the highest
// free one (highest block, then highest slot), as a plain set of the released handles says.
TEST_F(AreasTest, SizedReuseAlwaysTakesTheHighestFreeSlot) {
  run_phase();
  void* p;
  std::vector<DW> live;
  for (int i = 0; i < 1500; i++) live.push_back(area_new(50, &p));   // area 2, 256 per block
  std::set<DW> freed;
  uint32_t seed = 777;
  auto rnd = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int step = 0; step < 30000; step++) {
    if (!live.empty() && (freed.empty() || rnd(3) != 0)) {
      size_t k = rnd(static_cast<uint32_t>(live.size()));
      DW h = live[k];
      live[k] = live.back();
      live.pop_back();
      area_release(h);
      freed.insert(h);
    } else {
      DW h = area_new(60, &p);
      ASSERT_EQ(h, *freed.rbegin()) << step;
      freed.erase(std::prev(freed.end()));
      live.push_back(h);
    }
  }
}

#if defined(__SANITIZE_ADDRESS__)
#define AREAS_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define AREAS_TEST_ASAN 1
#endif
#endif
#ifdef AREAS_TEST_ASAN
// Slots share blocks: the sanitizer must still see a write past what the holder asked for, into
// a slot not handed out, or into a slot given back.
TEST_F(AreasTest, SanitizerSeesWritesPastASizedArea) {
  run_phase();
  void* p;
  void* q;
  area_new(20, &p);   // area 1: 32-byte elements
  DW h = area_new(32, &q);
  std::memset(p, 1, 20);
  std::memset(q, 1, 32);
  EXPECT_DEATH(static_cast<volatile char*>(p)[20] = 1, "use-after-poison");
  EXPECT_DEATH(static_cast<volatile char*>(q)[40] = 1, "use-after-poison");
  area_release(h);
  EXPECT_DEATH(static_cast<volatile char*>(q)[12] = 1, "use-after-poison");
  EXPECT_EQ(area_new(32, &p), h);
  std::memset(p, 2, 32);   // handed out again: addressable again
}
#endif

TEST_F(AreasTest, SizedAreaReuseMovesDownAcrossBlocks) {
  run_phase();
  void* p;
  std::vector<DW> hs;
  for (int i = 0; i < 8 * 3; i++) hs.push_back(area_new(2000, &p));   // area 14: 8 per block
  area_release(hs[1]);        // block 0 slot 1
  area_release(hs[8 + 6]);    // block 1 slot 6
  area_release(hs[8 + 2]);    // block 1 slot 2
  area_release(hs[1]);        // a second release of the same element changes nothing
  EXPECT_EQ(sized_areas[14].free_blocks, 2u);
  for (DW want : {hs[14], hs[10], hs[1]}) EXPECT_EQ(area_new(1600, &p), want);
  EXPECT_EQ(sized_areas[14].free_blocks, 0u);
  EXPECT_EQ(area_new(1600, &p), (14u << 20) | (3u << 8));
}

TEST_F(AreasTest, AreaFifteenReusesHighestFreeIndex) {
  run_phase();
  void* p;
  DW hs[6];
  for (DW& h : hs) {
    h = area_new(5000, &p);
    std::memset(p, 1, 5000);
  }
  EXPECT_EQ(hs[0], 0x00F00000u);
  EXPECT_EQ(hs[5], 0x00F00005u);
  area_release(hs[1]);
  area_release(hs[4]);
  area_release(hs[4]);   // given back once only
  EXPECT_EQ(area15_free, 2u);
  EXPECT_EQ(area_new(3000, &p), hs[4]);
  EXPECT_EQ(area_new(3000, &p), hs[1]);
  EXPECT_EQ(area_new(3000, &p), 0x00F00006u);
}

TEST_F(AreasTest, LoadPhaseAreaReleaseDoesNothing) {
  void* p;
  DW a = area_new(40, &p);
  std::memset(p, 7, 40);
  area_release(a);
  EXPECT_EQ(static_cast<uint8_t*>(p)[0], 7);
}

TEST_F(AreasTest, SizedAreaLimitRaisesWithAreaNumber) {
  run_phase();
  void* p;
  DW last = 0;
  int code = raised_code([&] {
    for (;;) last = area_new(2000, &p);
  });
  EXPECT_EQ(code, 1435);
  EXPECT_TRUE(message_ends_with("buffer Overflow(area 14)"));
  EXPECT_EQ(last, (14u << 20) | (4095u << 8) | 7);
  // Other areas, and freed elements of this one, are still served.
  EXPECT_EQ(raised_code([&] { area_new(10, &p); }), 0);
  area_release(last);
  DW again = 0;
  EXPECT_EQ(raised_code([&] { again = area_new(2000, &p); }), 0);
  EXPECT_EQ(again, last);
}

TEST_F(AreasTest, AreaFifteenLimitRaises1430) {
  run_phase();
  // Pretend every index below the limit is taken (the table itself is not touched).
  uint32_t next = area15_next, cap = area15_capacity;
  area15_next = area15_capacity = AREA15_LIMIT;
  void* p;
  int code = raised_code([&] { area_new(4096, &p); });
  area15_next = next;
  area15_capacity = cap;
  EXPECT_EQ(code, 1430);
  EXPECT_TRUE(message_ends_with("buffer Overflow(area 15)"));
}

TEST_F(AreasTest, AreaFifteenTableGrows) {
  run_phase();
  void* p;
  DW h = 0;
  for (int i = 0; i < 1100; i++) h = area_new(2048, &p);
  EXPECT_EQ(h, 0x00F00000u + 1099);
  EXPECT_EQ(area15_capacity, 1536u);
  EXPECT_EQ(area_ptr(h), p);
}

// ---- floors and installed blocks ----

TEST_F(AreasTest, FloorsPutLaterAllocationsOnFreshBlocks) {
  DW h;
  dw_new(T_INT, &h, 0);
  void* p;
  area_new(8, &p);
  store_raise_floors();
  dw_new(T_INT, &h, 0);
  EXPECT_EQ(h, (DW{T_INT} << 24) | (1u << 8));
  EXPECT_EQ(area_new(8, &p), 1u << 10);
  // Nothing allocated yet: the floors stay at 0.
  store_reset();
  store_raise_floors();
  dw_new(T_INT, &h, 0);
  EXPECT_EQ(h, DW{T_INT} << 24);
}

TEST_F(AreasTest, InstalledBlocksLandAtTheFloors) {
  DW h;
  dw_new(T_INT, &h, 0);
  void* p;
  area_new(8, &p);
  store_raise_floors();
  unsigned dwBase = 99, wordBase = 99;
  uint8_t* dw = store_install_dw_blocks(2, 3, &dwBase);   // 256 + 3 records
  const uint32_t used[2] = {1024, 10};
  uint8_t* words = store_install_word_blocks(2, used, &wordBase);
  EXPECT_EQ(dwBase, 1u);
  EXPECT_EQ(wordBase, 1u);
  EXPECT_EQ(dw_blocks[2], dw + 4096);
  EXPECT_EQ(word_blocks[2], words + 4096);
  dw_new(T_INT, &h, 0);   // continues after the module's last record
  EXPECT_EQ(h, (DW{T_INT} << 24) | (2u << 8) | 3);
  EXPECT_EQ(area_new(8, &p), (2u << 10) + 10);
  // A module whose last block is full: the next record opens a new block.
  store_raise_floors();
  store_install_dw_blocks(1, 0, &dwBase);
  EXPECT_EQ(dwBase, 3u);
  dw_new(T_INT, &h, 0);
  EXPECT_EQ(h, (DW{T_INT} << 24) | (4u << 8));
}

TEST_F(AreasTest, InstallRefusesBlocksPastTheLimits) {
  unsigned base;
  EXPECT_EQ(raised_code([&] { store_install_dw_blocks(4095, 0, &base); }), 1435);
  EXPECT_TRUE(message_ends_with("Buffer Overflow(Area DW16)"));
  EXPECT_EQ(dw_cur_block, -1);
  std::vector<uint32_t> used(1023, 1024);
  EXPECT_EQ(raised_code([&] { store_install_word_blocks(1023, used.data(), &base); }), 1435);
  EXPECT_TRUE(message_ends_with("Buffer Overflow(Area Free)"));
  EXPECT_EQ(raised_code([&] { store_install_dw_blocks(4094, 1, &base); }), 0);
  EXPECT_EQ(dw_cur_block, 4093);
}

// ---- the name pool ----

TEST_F(AreasTest, NamePoolAppendsTextZeroAndSpare) {
  name_pool_reset();
  uint32_t a = name_pool_add("alpha", 5);
  uint32_t b = name_pool_add("be", 2);
  EXPECT_EQ(b, a + 7);
  EXPECT_STREQ(name_pool + a, "alpha");
  EXPECT_EQ(name_pool[a + 6], 0);
  EXPECT_STREQ(name_pool + b, "be");
  // A text longer than one growth step still fits, and earlier texts survive the growth.
  std::vector<char> big(5000, 'x');
  uint32_t c = name_pool_add(big.data(), big.size());
  EXPECT_EQ(c, b + 4);
  EXPECT_GT(name_pool_cap, name_pool_used);
  EXPECT_EQ(name_pool_cap % 2048, 0u);
  EXPECT_EQ(std::strlen(name_pool + c), 5000u);
  EXPECT_STREQ(name_pool + a, "alpha");
}
