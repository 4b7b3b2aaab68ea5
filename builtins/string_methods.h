// Shared pieces of the String methods: the method table's row lookup, argument helpers,
// character positions over UTF-8 (with the position cache), result buffers and the adapter to
// the regular-expression engine.
#pragma once
#include <cstddef>
#include <cstdint>

#include "eval/eval.h"
#include "eval/method_table.h"

// ---- the method table ----

// Row of a method name in the table (name index), -1 when the name is not a String method.
int string_method_row(uint32_t name);

// The operations (MethodFn), one per concern (string_extract.cpp, string_search.cpp, string_build.cpp,
// string_patterns.cpp).
DW str_char_at(DW s, DW* a, int n);
DW str_char_code_at(DW s, DW* a, int n);
DW str_slice(DW s, DW* a, int n);
DW str_substr(DW s, DW* a, int n);
DW str_substring(DW s, DW* a, int n);
DW str_index_of(DW s, DW* a, int n);
DW str_last_index_of(DW s, DW* a, int n);
DW str_includes(DW s, DW* a, int n);
DW str_starts_with(DW s, DW* a, int n);
DW str_ends_with(DW s, DW* a, int n);
DW str_locale_compare(DW s, DW* a, int n);
DW str_concat(DW s, DW* a, int n);
DW str_to_upper(DW s, DW* a, int n);
DW str_to_lower(DW s, DW* a, int n);
DW str_trim(DW s, DW* a, int n);
DW str_trim_start(DW s, DW* a, int n);
DW str_trim_end(DW s, DW* a, int n);
DW str_pad_start(DW s, DW* a, int n);
DW str_pad_end(DW s, DW* a, int n);
DW str_repeat(DW s, DW* a, int n);
DW str_split(DW s, DW* a, int n);
DW str_replace(DW s, DW* a, int n);
DW str_replace_all(DW s, DW* a, int n);
DW str_search(DW s, DW* a, int n);
DW str_match(DW s, DW* a, int n);
DW str_match_all(DW s, DW* a, int n);

// charAt and charCodeAt with the index as a native number (what an Integer argument gives;
// callers with any other argument pass 0): the one-character string (empty past the end), and
// the UTF-16 unit or -1 where charCodeAt gives NaN. For callers that keep numbers unboxed.
DW str_char_at_index(DW s, int64_t i);
int32_t str_char_code_at_index(DW s, int64_t i);

// ---- arguments ----

inline int32_t int_arg(DW v) { return int_rec(v)->value; }
inline bool is_int(DW v) { return dw_type(v) == T_INT; }
inline bool is_string(DW v) { return dw_type(v) == T_STRING; }
// An Integer as it is, a Float as floor(value) (NaN gives 0, values beyond the 32-bit range are
// clamped); false for any other type.
bool int_or_floor(DW v, int64_t* out);

// ---- characters ----
// A character is one UTF-8 step: the sequence length is read from its first byte (below 0xC0
// one, 0xC0-0xDF two, 0xE0-0xEF three, 0xF0-0xF7 four, 0xF8-0xFB five, 0xFC-0xFD six, 0xFE-0xFF
// one), and the last step of a text is cut at its end.
inline uint32_t utf8_step(uint8_t c) {
  if (c < 0xC0) return 1;
  if (c < 0xE0) return 2;
  if (c < 0xF0) return 3;
  if (c < 0xF8) return 4;
  if (c < 0xFC) return 5;
  if (c < 0xFE) return 6;
  return 1;
}
// Characters of a text.
uint32_t utf8_count(const char* text, uint32_t len);
// Byte offset of character ci (len when the text has no such character).
uint32_t utf8_offset(const char* text, uint32_t len, uint32_t ci);
// Number of characters that start before byte offset b.
uint32_t utf8_index(const char* text, uint32_t len, uint32_t b);

// Positions in a receiver. A string asked about again while it is among the last few asked
// about is pinned (one reference held, up to four strings) with its character count,
// ASCII-ness and a checkpoint every 32 characters, so that loops of charAt/charCodeAt/substring
// over long strings stay linear. A string not pinned is answered by stepping from its start.
// One StrPos at a time: opening another may move the checkpoints.
struct StrPos {
  const char* text;
  uint32_t len;
  int64_t count;          // characters; -1 until asked for
  bool ascii;             // every byte below 0x80 (only meaningful once count is known)
  const uint32_t* marks;  // pinned non-ASCII string: byte offset of every 32nd character
  uint32_t* memo;         // pinned non-ASCII string: last character asked for, its byte offset
};
void str_pos_open(StrPos* p, DW s);
uint32_t str_pos_count(StrPos* p);
uint32_t str_pos_offset(StrPos* p, uint32_t ci);   // len when beyond the last character
uint32_t str_pos_index(StrPos* p, uint32_t b);     // characters starting before byte b

// ---- results ----

// A new string (count 0) holding exactly these bytes (zero bytes included).
DW string_of(const char* text, size_t len);
// A new string of len bytes to be filled by the caller through str_text (raises 1400 when too
// long for a string).
DW string_new(uint64_t len);

// A process-wide output buffer that grows as needed and is never given back, so that a raised
// error leaves nothing behind.
struct OutBuf {
  char* data;
  size_t len;
  size_t cap;
};
extern OutBuf str_out;
inline void out_reset() { str_out.len = 0; }
void out_grow(size_t need);
inline void out_append(const char* p, size_t n) {
  if (str_out.len + n > str_out.cap) out_grow(n);
  if (n) __builtin_memcpy(str_out.data + str_out.len, p, n);
  str_out.len += n;
}
// A process-wide list of 32-bit words (spans, handles) that grows as needed.
struct WordList {
  uint32_t* data;
  size_t len;
  size_t cap;
};
void words_push(WordList* w, uint32_t v);
// An array (count 0) of the given values, one reference taken on each.
DW array_of(const DW* values, size_t count);

// Text of a value as value_to_text gives it, a string's own text without a copy. The text may
// live in buf or in a heap block (*owned set): release it with text_done.
const char* arg_text(DW v, size_t* len, char* buf, size_t size, bool* owned);
void text_done(const char* t, bool owned);

// Byte-wise search of needle in hay[from .. hlen); returns the offset or -1.
int64_t bytes_find(const char* hay, size_t hlen, size_t from, const char* needle, size_t nlen);

// ---- regular expressions ----
// The adapter between the pattern-based methods and the regular-expression engine: every
// search goes through rx_find.

// The receiver's UTF-16 form and the way back from unit positions to byte offsets.
struct RxSubject {
  const char* text;   // the receiver's UTF-8 bytes
  uint32_t len;
  const uint16_t* s16;
  int32_t units;
  const uint32_t* unit_byte;  // byte offset of each unit (units + 1 entries), null when identity
};
void rx_subject_open(RxSubject* sub, DW s);
inline uint32_t rx_byte(const RxSubject* sub, int32_t unit) {
  return sub->unit_byte ? sub->unit_byte[unit] : static_cast<uint32_t>(unit);
}

// One search result: the match and its capturing groups as unit spans (-1, -1 for a group that
// took no part). The spans stay valid until the next search.
struct RxFound {
  int32_t start, end;
  int groups;
  const int32_t* span;   // span[2g], span[2g + 1] for g = 1 .. groups
  DW seq;                // the matched alternative (group names)
};
// Searches re from unit position from; false when there is no match.
bool rx_find(DW re, const RxSubject* sub, int32_t from, RxFound* f);
// The match result of the last rx_find as the RegExp object's exec gives it.
DW rx_exec_result(DW re, const RxSubject* sub, const RxFound* f, DW subject);

// A regular expression for a pattern argument: a RegExp value as it is; a string or any other
// value compiled from its text with the given flag letters (*temp set: give it back with
// rx_done).
DW rx_from_value(DW v, const char* flags, bool* temp);
void rx_done(DW re, bool temp);
bool rx_global(DW re);
