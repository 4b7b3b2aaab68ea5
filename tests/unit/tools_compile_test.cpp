// The image writer of scriptcgi-compile against the installer: every tree shape survives the
// round trip (first and after a source module), the bytes are deterministic, the packing
// inverts, and a parse error is the engine's own.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/compiled_module.h"
#include "driver/image_unpack.h"
#include "frontend_test_util.h"
#include "tools/compile/image_pack.h"
#include "tools/compile/image_writer.h"

namespace {

StatementList installed;
const std::vector<uint8_t>* image_in;

void install_current() {
  store_raise_floors();
  install_compiled_module(image_in->data(), image_in->size(), 1, &installed);
}

// The dump of src parsed as source (module 0 of a fresh engine).
std::string source_dump(const std::string& src) {
  frontend_fresh();
  ParseOutcome o = parse_source(src, true);
  EXPECT_EQ(o.code, 0) << o.text;
  return o.text;
}

// The dump of the image installed as module 1, with or without a source module before it.
std::string image_dump(const std::vector<uint8_t>& image, bool after_source) {
  frontend_fresh();
  config_reset();
  module_add("src.js", 6);
  module_add("m.jo", 4);
  installed = StatementList{nullptr, 0, 0, false};
  if (after_source) {
    ParseOutcome o = parse_source("var other = {k: [1, 2.5, 'x'], re: /q+/};\nfunction f(a) { return a; }\n");
    EXPECT_EQ(o.code, 0) << o.text;
  }
  image_in = &image;
  int code = run_catching(install_current);
  EXPECT_EQ(code, 0) << message_buffer;
  if (code) return "error";
  return tree_dump_list(installed.items, installed.count, true);
}

std::string many(const char* item, int n, const char* sep) {
  std::string s;
  for (int i = 0; i < n; i++) {
    if (i) s += sep;
    s += item;
    s += std::to_string(i);
  }
  return s;
}

TEST(ImageWriter, EveryTreeShapeSurvivesTheRoundTrip) {
  const std::string sources[] = {
      "var a = 1, b = 2.5, c = 'text', d = `tmpl ${a} end`, e = null, f = undefined, g = true;\n",
      "function add(x, y = x * 2) { var t = x + y; let u = t; const w = 3; return u + w; }\n"
      "var sum = add(1) + add(2, 3);\n",
      "function loops(n) {\n  var s = 0;\n  for (var i = 0; i < n; i++) { if (i % 2) continue; s += i; }\n"
      "  for (var k in {p: 1, q: 2}) s += k;\n  for (const v of [1, 2, 3]) s += v;\n"
      "  while (s > 100) s -= 7;\n  do { s++; } while (s < 5);\n  return s;\n}\n",
      "function sw(x) {\n  switch (x) {\n    case 1: x = 'one'; break;\n    case 'two': x = 2; break;\n"
      "    default: x = 0;\n  }\n  return x;\n}\n",
      "function tr() {\n  try { throw Error('e', 5); } catch (err) { return err.message; } finally { var z = 1; }\n"
      "  try { var q = 1; } finally { q = 2; }\n}\n",
      "var re = /(?<year>\\d{4})-(\\d\\d)|x+?/gi;\nvar m = 'a 2024-05'.match(re);\nvar r2 = RegExp('a|b', 'g');\n",
      "var o = {name: 'n', list: [1, [2, [3]], {deep: {deeper: 'd'}}], fn: function (v) { return v.length; }};\n"
      "o.list[1][0] = o.fn('abc'); delete_me = typeof o instanceof Object;\n",
      "var big = " + many("n", 300, " + ") + ";\n",
      "{\n" + many("x", 300, " = 1;\n") + " = 1;\n}\n",
      "var bytes = '\xF0\xF1\xF2\xF3\xFE\xFF\x01 日本語のテキスト';\nvar obj = new Date(2024, 1, 2);\n"
      "function k() { console.log(bytes.length, obj.getFullYear(), parseInt('12', 10), Math.max(1, 2)); }\n",
      "var conn;\nfunction db() { conn = openDb('sqlite', 'x', 'y'); select(conn, 'select 1'); closeDb(conn); }\n",
      "",
      "   \n// only a comment\n",
  };
  for (const std::string& src : sources) {
    std::string expected = source_dump(src);
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(build_image(src.data(), src.size(), "t.js", &image, &error)) << error;
    EXPECT_EQ(image_dump(image, false), expected) << src;
    EXPECT_EQ(image_dump(image, true), expected) << src;
  }
}

TEST(ImageWriter, TheSameSourceGivesTheSameBytesAndPackingPaysOff) {
  std::string src;
  for (int i = 0; i < 200; i++)
    src += "function f" + std::to_string(i) + "(a, b) { var s = 'v" + std::to_string(i) + "'; return a + b * " +
           std::to_string(i) + " + s.length; }\n";
  std::vector<uint8_t> one, two;
  std::string error;
  ASSERT_TRUE(build_image(src.data(), src.size(), "t.js", &one, &error)) << error;
  ASSERT_TRUE(build_image(src.data(), src.size(), "t.js", &two, &error)) << error;
  EXPECT_EQ(one, two);
  uint32_t s, p;
  std::memcpy(&s, one.data(), 4);
  std::memcpy(&p, one.data() + 4, 4);
  EXPECT_NE(s, p);
  EXPECT_LT(p, s - s / 5);   // half the bytes of records and words are zeros
  EXPECT_EQ(one.size(), 8 + p);
}

TEST(ImagePack, UnpackingInvertsPackingWhateverTheBytes) {
  uint32_t x = 12345;
  auto next = [&]() { return (x = x * 214013 + 2531011) >> 16; };
  for (int round = 0; round < 60; round++) {
    std::vector<uint8_t> s;
    size_t len = next() % 4000;
    for (size_t i = 0; i < len; i++) {
      uint32_t r = next();
      if (round % 3 == 0) s.push_back(static_cast<uint8_t>(r));               // every byte value
      else if (r % 4 == 0) s.insert(s.end(), r % 300, 0);                      // long zero runs
      else s.push_back(static_cast<uint8_t>(r % 8 == 0 ? 0xF0 + r % 16 : r % 5));
    }
    std::vector<uint8_t> p = pack_stream(s);
    const uint8_t* out = image_unpack(p.data(), p.size(), s.size());
    ASSERT_NE(out, nullptr) << "round " << round;
    EXPECT_EQ(std::vector<uint8_t>(out, out + s.size()), s) << "round " << round;
  }
}

TEST(ImageWriter, AParseErrorIsTheEnginesOwn) {
  const std::string bad = "var a = 1;\nvar b = (2 + ;\n";
  frontend_fresh();
  ParseOutcome o = parse_source(bad);
  ASSERT_NE(o.code, 0);
  std::vector<uint8_t> image;
  std::string error;
  EXPECT_FALSE(build_image(bad.data(), bad.size(), "t.js", &image, &error));
  EXPECT_EQ(error, o.text);
  EXPECT_NE(error.find("(t.js:2)"), std::string::npos) << error;
}

}  // namespace
