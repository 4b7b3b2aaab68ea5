// Character positions over UTF-8 text: stepping, counting, and the cache that keeps loops over
// one long string linear.
#include <cstdlib>
#include <cstring>

#include "builtins/string_methods.h"
#include "frontend/tree.h"
#include "store/generation.h"

namespace {

constexpr uint64_t HIGH_BITS = 0x8080808080808080ull;

inline uint64_t load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// Counts the characters of a text; *ascii tells whether every byte is below 0x80. With marks,
// the byte offset of every 32nd character is written to marks[0 ..].
uint32_t scan(const char* text, uint32_t len, bool* ascii, uint32_t* marks) {
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  size_t pos = 0;
  uint32_t n = 0;
  bool high = false;
  while (pos < len) {
    if (!marks && pos + 8 <= len && !(load8(text + pos) & HIGH_BITS)) {
      pos += 8;
      n += 8;
      continue;
    }
    if (marks && (n & 31) == 0) marks[n >> 5] = static_cast<uint32_t>(pos);
    uint8_t c = s[pos];
    high |= c >= 0x80;
    pos += utf8_step(c);
    n++;
  }
  *ascii = !high;
  return n;
}

// Steps k characters from byte pos; stops at len.
inline size_t step_chars(const char* text, uint32_t len, size_t pos, uint32_t k) {
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  while (k && pos < len) {
    if (k >= 8 && pos + 8 <= len && !(load8(text + pos) & HIGH_BITS)) {
      pos += 8;
      k -= 8;
      continue;
    }
    pos += utf8_step(s[pos]);
    k--;
  }
  return pos < len ? pos : len;
}

// Counts characters from byte pos (character n) while they start before byte b.
inline uint32_t count_before(const char* text, uint32_t len, size_t pos, uint32_t n, uint32_t b) {
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  if (b > len) b = len;
  while (pos < b) {
    if (pos + 8 <= b && !(load8(text + pos) & HIGH_BITS)) {
      pos += 8;
      n += 8;
      continue;
    }
    pos += utf8_step(s[pos]);
    n++;
  }
  return n;
}

// ---- the cache ----
// A pinned string holds one reference, so its storage cannot be handed to another value while
// it is pinned; its text handle and length are compared on every use, so a string changed in
// place (which only happens to values held once) is never answered from stale data. The store's
// generation tells whether the store was reset since (tests).
// A few strings are kept, so that walks over two or three strings side by side stay linear; the
// one asked about least recently goes first (a walk over a long string that pins short ones on
// the way keeps the long one).
constexpr int PINS = 4;
struct Pinned {
  DW h;          // 0 when the entry is free
  DW text;
  uint32_t len;
  uint32_t count;
  bool ascii;
  uint32_t* marks;
  size_t marks_cap;
  uint32_t memo[2];   // the character last asked for and its byte offset (walks step from it)
  uint32_t used;      // when it was last asked about
};
Pinned pins[PINS];
uint32_t pin_clock;

// Strings asked about recently, not held: another question about one of them pins it.
struct Candidate {
  DW h, text;
  uint32_t len;
};
Candidate cands[PINS];
int cand_next;

uint32_t generation = ~0u;

// Starts a new epoch after a reset: the old entries are dropped without touching the store.
inline void check_epoch() {
  if (generation == store_generation) return;
  for (Pinned& p : pins) p.h = 0;
  for (Candidate& c : cands) c.h = 0;
  generation = store_generation;
}

Pinned* pin_string(DW s, const char* text, uint32_t len) {
  // The entry of the same string changed since (appended to in place), else a free one, else
  // the one asked about least recently.
  Pinned* p = &pins[0];
  for (Pinned& e : pins) {
    if (e.h == s) {
      p = &e;
      break;
    }
    if (p->h && (!e.h || e.used < p->used)) p = &e;
  }
  if (p->h) dw_release(p->h);
  p->h = 0;
  bool ascii;
  uint32_t n = scan(text, len, &ascii, nullptr);
  if (!ascii) {
    size_t need = (static_cast<size_t>(len) >> 5) + 2;
    if (need > p->marks_cap) {
      size_t cap = need + need / 2 + 64;
      auto* m = static_cast<uint32_t*>(std::realloc(p->marks, cap * sizeof(uint32_t)));
      if (!m) raise_eval_error(1400, "メモリ領域を取得できません");
      p->marks = m;
      p->marks_cap = cap;
    }
    scan(text, len, &ascii, p->marks);
  }
  p->h = dw_ref(s);
  p->text = str_rec(s)->text;
  p->len = len;
  p->count = n;
  p->ascii = ascii;
  p->memo[0] = p->memo[1] = 0;
  return p;
}

}  // namespace

uint32_t utf8_count(const char* text, uint32_t len) {
  bool ascii;
  return scan(text, len, &ascii, nullptr);
}

uint32_t utf8_offset(const char* text, uint32_t len, uint32_t ci) {
  return static_cast<uint32_t>(step_chars(text, len, 0, ci));
}

uint32_t utf8_index(const char* text, uint32_t len, uint32_t b) { return count_before(text, len, 0, 0, b); }

void str_pos_open(StrPos* p, DW s) {
  StrRec* r = str_rec(s);
  p->text = str_text(s);
  p->len = r->len;
  p->count = -1;
  p->ascii = false;
  p->marks = nullptr;
  p->memo = nullptr;
  check_epoch();
  Pinned* hit = nullptr;
  for (Pinned& e : pins)
    if (e.h == s && e.text == r->text && e.len == r->len) {
      hit = &e;
      break;
    }
  if (!hit) {
    for (Candidate& c : cands)
      if (c.h == s && c.text == r->text && c.len == r->len) {
        c.h = 0;
        hit = pin_string(s, p->text, p->len);
        break;
      }
  }
  if (hit) {
    hit->used = ++pin_clock;
    p->count = hit->count;
    p->ascii = hit->ascii;
    if (!hit->ascii) {
      p->marks = hit->marks;
      p->memo = hit->memo;
    }
    return;
  }
  Candidate& c = cands[cand_next];
  cand_next = (cand_next + 1) % PINS;
  c = Candidate{s, r->text, r->len};
}

uint32_t str_pos_count(StrPos* p) {
  if (p->count < 0) p->count = scan(p->text, p->len, &p->ascii, nullptr);
  return static_cast<uint32_t>(p->count);
}

uint32_t str_pos_offset(StrPos* p, uint32_t ci) {
  if (p->count >= 0) {
    if (ci >= p->count) return p->len;
    if (p->ascii) return ci;
    if (p->marks) {
      // From the character asked for last when it lies between ci's checkpoint and ci.
      uint32_t* m = p->memo;
      size_t b = m[0] <= ci && m[0] >= (ci & ~31u) ? step_chars(p->text, p->len, m[1], ci - m[0])
                                                    : step_chars(p->text, p->len, p->marks[ci >> 5], ci & 31);
      m[0] = ci;
      m[1] = static_cast<uint32_t>(b);
      return m[1];
    }
  }
  return utf8_offset(p->text, p->len, ci);
}

uint32_t str_pos_index(StrPos* p, uint32_t b) {
  if (b > p->len) b = p->len;
  if (p->count >= 0 && p->ascii) return b;
  if (p->marks && b > 0) {
    // The last checkpoint that starts before b.
    uint32_t lo = 0, hi = static_cast<uint32_t>((p->count - 1) >> 5);
    while (lo < hi) {
      uint32_t mid = (lo + hi + 1) >> 1;
      if (p->marks[mid] < b) lo = mid; else hi = mid - 1;
    }
    return count_before(p->text, p->len, p->marks[lo], lo << 5, b);
  }
  return utf8_index(p->text, p->len, b);
}
