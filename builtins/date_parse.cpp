// Parsing of date texts: the numeric form (2024-03-05T10:20:30.500, 2024/3/5 10:20, 20240305)
// and the word form (Tue, 05 Mar 2024 10:20:30 GMT+0100, March 5, 2024 10:20).
#include "builtins/date.h"

namespace {

struct Scan {
  const char* p;
  const char* e;
  int peek() const { return p < e ? static_cast<unsigned char>(*p) : -1; }
  int at(size_t i) const { return p + i < e ? static_cast<unsigned char>(p[i]) : -1; }
};

bool is_blank(int c) { return c == ' ' || c == '\t'; }
bool is_digit(int c) { return c >= '0' && c <= '9'; }
int lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }
bool is_letter(int c) { return lower(c) >= 'a' && lower(c) <= 'z'; }

void skip_blanks(Scan& s) {
  while (is_blank(s.peek())) s.p++;
}

size_t digit_run(const Scan& s) {
  size_t n = 0;
  while (is_digit(s.at(n))) n++;
  return n;
}

int digits_value(const char* p, size_t n) {
  int v = 0;
  for (size_t i = 0; i < n; i++) v = v * 10 + (p[i] - '0');
  return v;
}

// A number of 1 to 2 digits (exactly 2 when exact2); false when there are none or too many.
bool read_small(Scan& s, int* v, bool exact2 = false) {
  size_t n = digit_run(s);
  if (exact2 ? n < 2 : (n < 1 || n > 2)) return false;
  if (exact2) n = 2;
  *v = digits_value(s.p, n);
  s.p += n;
  return true;
}

// Two or three digits followed by a blank: 1900 + n; otherwise four digits. more_digits lets
// digits follow the four (the compact numeric form 20240305).
bool read_year(Scan& s, int* year, bool more_digits) {
  size_t n = digit_run(s);
  if ((n == 2 || n == 3) && is_blank(s.at(n))) {
    *year = 1900 + digits_value(s.p, n);
  } else if (n == 4 || (n > 4 && more_digits)) {
    n = 4;
    *year = digits_value(s.p, 4);
  } else {
    return false;
  }
  s.p += n;
  return true;
}

// A time field ends at ":", ".", a blank, "Z", "z" or the end of the text.
bool field_end(int c) { return c == ':' || c == '.' || c == 'Z' || c == 'z' || is_blank(c) || c < 0; }

// hours [":" minutes [":" seconds]] ["." 1-3 digits of a second's fraction]
bool read_time(Scan& s, DateFields* f) {
  if (!read_small(s, &f->hours) || !field_end(s.peek())) return false;
  if (s.peek() == ':') {
    s.p++;
    if (!read_small(s, &f->minutes) || !field_end(s.peek())) return false;
    if (s.peek() == ':') {
      s.p++;
      if (!read_small(s, &f->seconds) || !field_end(s.peek())) return false;
    }
  }
  if (s.peek() == '.') {
    s.p++;
    size_t n = digit_run(s);
    if (n < 1 || n > 3) return false;
    // ".5" is half a second: the digits are a fraction, scaled to milliseconds.
    static constexpr int SCALE[4] = {0, 100, 10, 1};
    f->ms = digits_value(s.p, n) * SCALE[n];
    s.p += n;
    int c = s.peek();
    if (!(c == 'Z' || c == 'z' || is_blank(c) || c < 0)) return false;
  }
  return true;
}

bool at_end(Scan& s) {
  skip_blanks(s);
  return s.p == s.e;
}

// A month name of 3 to 17 letters: a 3-letter short name or a whole long name, in any case.
bool read_month(Scan& s, int* month) {
  size_t n = 0;
  while (is_letter(s.at(n))) n++;
  if (n < 3 || n > 17) return false;
  for (int m = 0; m < 12; m++) {
    const char* name = n == 3 ? date_month_name(m) : DATE_LONG_MONTHS + 10 * m;
    size_t len = 3;
    if (n != 3) {
      len = 10;
      while (len && name[len - 1] == ' ') len--;
    }
    if (len != n) continue;
    size_t i = 0;
    while (i < n && lower(s.p[i]) == lower(name[i])) i++;
    if (i == n) {
      *month = m;
      s.p += n;
      return true;
    }
  }
  return false;
}

bool word_is(const Scan& s, const char* w) {
  for (size_t i = 0; w[i]; i++)
    if (lower(s.at(i)) != lower(w[i])) return false;
  return true;
}

bool parse_numeric(Scan& s, DateFields* f) {
  if (!read_year(s, &f->year, true)) return false;
  int month = 0;
  int c = s.peek();
  if (c == '/' || c == '-') {
    s.p++;
    if (!read_small(s, &month) || s.peek() != c) return false;
    s.p++;
    if (!read_small(s, &f->day)) return false;
  } else if (!read_small(s, &month, true) || !read_small(s, &f->day, true)) {
    return false;
  }
  f->month = month - 1;
  Scan rest = s;
  if (at_end(rest)) return true;   // a date alone is local midnight
  c = s.peek();
  if (c == 'T') s.p++;
  else if (is_blank(c)) skip_blanks(s);
  else return false;
  if (!read_time(s, f)) return false;
  if (s.peek() == 'Z' || s.peek() == 'z') s.p++;
  return at_end(s);
}

// Returns false on a deviation; *shift is the zone's minutes east of UTC, *zoned whether one was named.
bool parse_words(Scan& s, DateFields* f, int* shift, bool* zoned) {
  if (is_letter(s.at(0)) && is_letter(s.at(1)) && is_letter(s.at(2)) && s.at(3) == ',') {
    s.p += 4;   // the day name is not checked against the date
    skip_blanks(s);
  }
  if (is_digit(s.peek())) {
    if (!read_small(s, &f->day)) return false;
    skip_blanks(s);
    if (!read_month(s, &f->month)) return false;
  } else {
    if (!read_month(s, &f->month)) return false;
    skip_blanks(s);
    if (!read_small(s, &f->day)) return false;
    if (s.peek() == ',') s.p++;
  }
  skip_blanks(s);
  if (!read_year(s, &f->year, false)) return false;
  skip_blanks(s);
  if (s.peek() == ',') s.p++;
  skip_blanks(s);
  if (!read_time(s, f)) return false;
  skip_blanks(s);
  if (word_is(s, "GMT") || word_is(s, "UTC")) {
    s.p += 3;
    *zoned = true;
    int c = s.peek();
    if (c == '+' || c == '-') {
      s.p++;
      int h = 0, m = 0;
      if (digit_run(s) <= 2 && s.at(digit_run(s)) == ':') {
        if (!read_small(s, &h)) return false;
        s.p++;
        if (!read_small(s, &m)) return false;
      } else if (digit_run(s) == 4) {
        read_small(s, &h, true);
        read_small(s, &m, true);
      } else {
        return false;
      }
      if (h > 23 || m > 59) return false;
      *shift = (c == '-' ? -1 : 1) * (h * 60 + m);
    }
  }
  return at_end(s);
}

}  // namespace

int date_parse_text(const char* text, size_t len, int64_t* secs, int* ms, bool* zoned) {
  Scan s{text, text + len};
  skip_blanks(s);
  DateFields f = {0, 0, 1, 0, 0, 0, 0};
  int shift = 0;
  *zoned = false;
  if (is_digit(s.at(0)) && is_digit(s.at(1)) && is_digit(s.at(2))) {
    if (!parse_numeric(s, &f)) return DATE_ERR_NUMERIC_TEXT;
    return date_local_to_time(f, secs, ms);
  }
  if (!parse_words(s, &f, &shift, zoned)) return DATE_ERR_TEXT;
  if (!*zoned) return date_local_to_time(f, secs, ms);
  int64_t t;
  if (int e = date_utc_to_time(f, &t, ms)) return e;
  t -= static_cast<int64_t>(shift) * 60;
  if (int e = date_check_range(t)) return e;
  *secs = t;
  return 0;
}
