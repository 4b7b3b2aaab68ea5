// Random and mutated patterns and subjects: safety, own errors only, faithful regeneration.
#include <string>
#include <vector>

#include "regexp_test_support.h"

namespace {

using FuzzTest = RegexpTest;

struct Rng {
  uint64_t s;
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<uint32_t>(s >> 16);
  }
  uint32_t below(uint32_t n) { return next() % n; }
  template <size_t N>
  const char* pick(const char* const (&a)[N]) { return a[below(N)]; }
};

// A random pattern of the accepted syntax.
std::string gen(Rng& r, int depth, bool top) {
  static const char* const atoms[] = {"a", "b", "c", "ab", ".", "\\d", "\\w", "\\W", "\\s", "[ab]", "[^a]",
                                      "[a-c]", "[\\d_]", "x", "\\b", "\\B", "1"};
  static const char* const wide[] = {"あ", "[ぁ-ん]", "\\u3042", "日本", "[^あ]"};
  static const char* const quants[] = {"*", "+", "?", "*?", "+?", "??", "{1,2}", "{2}", "{1,}", "{1,3}?"};
  std::string out;
  int n = 1 + static_cast<int>(r.below(4));
  if (top && r.below(6) == 0) out += "^";
  for (int k = 0; k < n; k++) {
    std::string atom;
    uint32_t c = r.below(depth > 2 ? 10 : 16);
    bool quantifiable = true;
    if (c < 10) {
      atom = r.below(5) == 0 ? r.pick(wide) : r.pick(atoms);
      if (atom == "\\b" || atom == "\\B" || atom == "ab" || atom == "日本") quantifiable = false;
    } else if (c < 12) {
      atom = "(?:" + gen(r, depth + 1, false) + ")";
    } else if (c == 12) {
      atom = "(" + gen(r, depth + 1, false) + ")";
      quantifiable = false;
    } else if (c == 13) {
      atom = "(?:" + gen(r, depth + 1, false) + "|" + gen(r, depth + 1, false) + ")";
    } else if (c == 14) {
      atom = std::string(r.below(2) ? "(?=" : "(?!") + gen(r, depth + 1, false) + ")";
      quantifiable = false;
    } else {
      atom = std::string(r.below(2) ? "(?<=" : "(?<!") + gen(r, depth + 1, false) + ")x";
      quantifiable = false;
    }
    out += atom;
    if (quantifiable && r.below(3) == 0) out += r.pick(quants);
  }
  if (out.find('(') == 0 && r.below(3) == 0) out += "\\1";
  if (top && r.below(6) == 0) out += "$";
  if (top && r.below(4) == 0) out += "|" + gen(r, depth + 1, false);
  return out;
}

// A random subject; now and then with malformed UTF-8.
std::string subject(Rng& r) {
  static const char* const parts[] = {"a", "b", "c", "x", "1", "_", " ", "ab", "aa", "-"};
  static const char* const wide[] = {"あ", "い", "日", "\n", "\r", "\xE3\x81", "\xFF", "\x80"};
  std::string s;
  int n = 1 + static_cast<int>(r.below(10));
  for (int k = 0; k < n; k++) s += r.below(4) == 0 ? r.pick(wide) : r.pick(parts);
  return s;
}

void mutate(Rng& r, std::string& p) {
  static const char alphabet[] = "\\[](){}|?*+^$-,.:=!<>0129abcdxuwDsSbB/_ \x01";
  static const char* const bytes[] = {"\xE3", "\xE3\x81", "\xE3\x81\x82", "\xFF", "\xC3\xA9", "\x80"};
  int edits = 1 + static_cast<int>(r.below(4));
  for (int k = 0; k < edits; k++) {
    size_t at = p.empty() ? 0 : r.below(static_cast<uint32_t>(p.size() + 1));
    switch (r.below(4)) {
      case 0: if (at < p.size()) p.erase(at, 1); break;
      case 1: p.insert(at, 1, alphabet[r.below(sizeof alphabet - 1)]); break;
      case 2: if (at < p.size()) p[at] = alphabet[r.below(sizeof alphabet - 1)]; break;
      default: p.insert(at, r.pick(bytes)); break;
    }
  }
}

bool own_compile_error(int code) {
  return (code >= 4600 && code <= 4805) || code == 1595;
}

struct Outcome {
  int code;
  int32_t start, end;
  std::vector<int32_t> spans;
  bool operator==(const Outcome& o) const {
    return code == o.code && start == o.start && end == o.end && spans == o.spans;
  }
};

Outcome run_search(DW re, const uint16_t* s, int32_t len, int32_t from) {
  Outcome o{0, -1, -1, {}};
  int32_t e = -1, ms = -1;
  o.code = raised_code([&] { e = regexp_search(s, len, from, re, &ms, rx_head(re)->flags); });
  if (o.code || e < 0) return o;
  o.start = ms;
  o.end = e;
  for (int g = 1; g <= rx_last.groups; g++) {
    o.spans.push_back(rx_last.span[2 * g]);
    o.spans.push_back(rx_last.span[2 * g + 1]);
  }
  return o;
}

TEST_F(FuzzTest, MutatedPatternsStaySafeAndRegenerateFaithfully) {
  Rng r{0x9E3779B97F4A7C15ull};
  int compiled = 0, matched = 0;
  for (int iter = 0; iter < 15000; iter++) {
    std::string pat = gen(r, 0, true);
    if (r.below(2)) mutate(r, pat);
    static const char* const flagSets[] = {"", "i", "m", "s", "y", "ims", "g"};
    const char* flags = r.pick(flagSets);
    DW re = 0;
    int code = raised_code([&] { re = regexp_new(pat.data(), pat.size(), flags, std::strlen(flags)); });
    if (code) {
      EXPECT_TRUE(own_compile_error(code)) << pat << " raised " << code << ": " << message_buffer;
      continue;
    }
    compiled++;
    size_t n;
    std::string src;
    code = raised_code([&] { src = regexp_source(re, &n); });
    ASSERT_EQ(code, 0) << pat;
    DW back = 0;
    code = raised_code([&] { back = regexp_new(src.data(), src.size(), flags, std::strlen(flags)); });
    ASSERT_EQ(code, 0) << pat << " regenerated as " << src << ": " << message_buffer;
    for (int k = 0; k < 4; k++) {
      std::string subj = subject(r);
      int32_t units = 0;
      const uint16_t* s = nullptr;
      ASSERT_EQ(raised_code([&] { s = rx_scratch_utf16(1, subj.data(), subj.size(), &units); }), 0);
      int32_t from = static_cast<int32_t>(r.below(static_cast<uint32_t>(units) + 1));
      Outcome a = run_search(re, s, units, from);
      ASSERT_TRUE(a.code == 0 || a.code == RX_ERR_STEPS) << pat << " on " << subj << ": " << message_buffer;
      if (a.code) continue;
      if (a.start >= 0) {
        matched++;
        EXPECT_LE(from, a.start);
        EXPECT_LE(a.start, a.end);
        EXPECT_LE(a.end, units);
        for (size_t g = 0; g < a.spans.size(); g += 2) {
          EXPECT_LE(0, a.spans[g]) << pat;
          EXPECT_LE(a.spans[g], a.spans[g + 1]) << pat;
          EXPECT_LE(a.spans[g + 1], units) << pat;
        }
      }
      Outcome b = run_search(back, s, units, from);
      EXPECT_TRUE(a == b) << pat << " vs " << src << " on " << subj << " from " << from;
    }
  }
  // The generator must exercise the matcher, not only the error paths.
  EXPECT_GT(compiled, 5000);
  EXPECT_GT(matched, 2500);
}

TEST_F(FuzzTest, RawBytePatternsAndLiterals) {
  Rng r{12345};
  for (int iter = 0; iter < 20000; iter++) {
    std::string p;
    int n = static_cast<int>(r.below(12));
    for (int k = 0; k < n; k++) p += static_cast<char>(r.below(2) ? "\\[](){}|?*+^$-,.:=!<>0129abuxc/"[r.below(32)] : r.below(256));
    int code = rx_error(p.data(), p.size());
    EXPECT_TRUE(code == 0 || own_compile_error(code)) << code;
    p += '\0';
    DW h;
    code = raised_code([&] { regexp_literal(p.data(), &h); });
    EXPECT_TRUE(code == 0 || own_compile_error(code)) << code;
  }
}

}  // namespace
