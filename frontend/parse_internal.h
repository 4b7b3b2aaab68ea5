// Declarations shared by the tokenizer, the expression parser and the statement parser.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "errors/raise.h"
#include "frontend/parser.h"
#include "frontend/tree.h"

// ---- character classes ----
enum : uint8_t { CC_LETTER = 1, CC_DIGIT = 2, CC_UNDERSCORE = 4, CC_BLANK = 8 };
struct CharClasses {
  uint8_t v[256];
};
constexpr CharClasses make_char_classes() {
  CharClasses t{};
  for (int c = 0; c < 256; c++) {
    uint8_t k = 0;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) k = CC_LETTER;
    else if (c >= '0' && c <= '9') k = CC_DIGIT;
    else if (c == '_') k = CC_UNDERSCORE;
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') k = CC_BLANK;
    t.v[c] = k;
  }
  return t;
}
inline constexpr CharClasses char_classes = make_char_classes();
inline bool is_ident_start(char c) { return char_classes.v[static_cast<uint8_t>(c)] & (CC_LETTER | CC_UNDERSCORE); }
inline bool is_ident_char(char c) {
  return char_classes.v[static_cast<uint8_t>(c)] & (CC_LETTER | CC_DIGIT | CC_UNDERSCORE);
}
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_blank(char c) { return char_classes.v[static_cast<uint8_t>(c)] & CC_BLANK; }

// ---- tokenizer ----
// Skips blanks (space, tab, CR, LF), counting line feeds; returns the byte at p (0 at the end).
inline char skip_blanks(char*& p) {
  for (;;) {
    char c = *p;
    if (c == ' ' || c == '\t' || c == '\r') {
      p++;
    } else if (c == '\n') {
      parse_line++;
      line_start = p;
      p++;
    } else {
      return c;
    }
  }
}
inline uint32_t token_position(const char* p) {
  return make_position(static_cast<uint32_t>(parse_line), static_cast<uint32_t>(p - line_start));
}
// Keyword index 0..67 at p (p is left after the keyword), or -1 (p unchanged).
int keyword_lookup(char*& p);
constexpr int KEYWORD_COUNT = 68;
// Word at p followed by a byte that is not a letter, digit or underscore.
bool keyword_at(const char* p, const char* word, size_t len);
template <size_t N>
inline bool keyword_at(const char* p, const char (&word)[N]) { return keyword_at(p, word, N - 1); }
// The operator token at p: its opcode (OP_COMMA for ","), *len its length; 0 when p holds no
// operator here ("+"/"-" before a digit where no value precedes is a signed number, "." where no
// operand precedes a number, "/" where no value precedes a pattern literal).
unsigned operator_token(const char* p, bool after_operand, bool after_value, int* len);
// Reads a name at p (letter or underscore first) and interns it; 1005 for 201 bytes or more.
char* read_name_interned(char* p, uint32_t* name);
// Reads a number literal at p (after any sign) into an Integer or Float value.
char* read_number(char* p, DW* out, int sign);
// Reads a string literal; p is just after the opening quote. Returns the pointer after the
// closing quote.
char* read_string(char* p, char quote, DW* out);
// Up to n characters (at most 510 bytes) of the line at p, in a static buffer.
const char* source_excerpt(const char* p, int n);
// The bracket that closes the one opened just before p, or null.
char* find_closing(char* p, char close, char open);
// Next occurrence of c at or after p that is outside quoted strings and not escaped, or null.
char* next_unquoted(char* p, char c);
// Closing quote of the string whose opening quote is at p (the next same quote not preceded by
// an odd number of backslashes), or null.
char* closing_quote(char* p);
// The byte at p is preceded by an odd number of backslashes (not looking before start).
bool is_escaped(const char* start, const char* p);
// Next occurrence at or after p of the quote character q that is not escaped, or null.
const char* next_unescaped_quote(const char* p, char q);
// next_unquoted for a constant text.
const char* next_unquoted_char(const char* p, char c);
// Text at p equals word and the next byte is not a letter, digit or underscore.
inline bool word_at(const char* p, const char* word) { return keyword_at(p, word, std::strlen(word)); }
// A letter or an underscore.
inline bool ident_start(char c) { return is_ident_start(c); }

// ---- storage helpers ----
DW area_new_nonzero(size_t size, void** out);
// Grows a malloc'd array of elem-sized items to hold at least need items; the first `keep`
// items are preserved. The array may start on caller storage (owned false).
void* grow_array(void* items, bool* owned, uint32_t* capacity, uint32_t need, uint32_t keep, size_t elem,
                 uint32_t step);

// ---- nesting ----
constexpr int MAX_NESTING = 256;
extern int parse_depth;
void nesting_enter(const char* p);
inline void nesting_leave() { parse_depth--; }
void parser_nesting_reset();

// ---- expression parser ----
char* parse_expr_list(char* p, DW* out, uint32_t max, uint32_t* count, bool addref);
char* parse_bracketed_list(char* p, DW* out, uint32_t max, uint32_t* count, char open, char close, bool addref);
char* parse_element(char* p, DW* out, uint32_t max, uint32_t* count);
// The top-function call: at most token_limit tokens, errors 1720/1730.
char* parse_call_list(char* p, DW* out, uint32_t* count);
// Builds an argument-list area block from count handles (one reference each already taken).
DW make_arglist(const DW* items, uint32_t count);

// ---- statement parser ----
typedef char* (*KeywordHandler)(char* p, DW* out, char* start, uint32_t pos);
extern const KeywordHandler keyword_handlers[KEYWORD_COUNT];
char* parse_statement(char* p, DW* out);
char* parse_block(char* p, DW* out, uint32_t* end_line);
// Resets scope marks and nesting for a fresh top-level parse.
void parser_scopes_reset();
struct ScopeMarks {
  int32_t local_first, local_last, block_first, block_last;
};
void parser_scopes_save(ScopeMarks* m);
void parser_scopes_restore(const ScopeMarks* m);

// Excerpt lengths of messages.
constexpr int EXCERPT = 120;
constexpr int EXCERPT_SHORT = 100;
