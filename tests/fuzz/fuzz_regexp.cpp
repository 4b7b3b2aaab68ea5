// Fuzz target: the regular-expression compiler and matcher. Input: one byte of flags, the
// pattern (UTF-8), a zero byte, the subject. A pattern either compiles or ends in one of the
// compiler's errors; a compiled one regenerates into source text that compiles again and finds
// what the original finds, and every match lies inside the subject.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "regexp/regexp.h"

namespace {

const char* pattern;
size_t pattern_len;
const char* subject;
size_t subject_len;
char flags[8];
DW compiled, regenerated;
std::string source;

struct Outcome {
  int code;
  int32_t start, end;
  std::string spans;  // the group spans, as bytes
  bool operator==(const Outcome& o) const = default;
};

const uint16_t* subject16;
int32_t units, from;
DW searched;
int32_t found_end, found_start;

void compile() { compiled = regexp_new(pattern, pattern_len, flags, std::strlen(flags)); }
void regenerate() {
  size_t n;
  const char* s = regexp_source(compiled, &n);
  source.assign(s, n);
  regenerated = regexp_new(source.data(), source.size(), flags, std::strlen(flags));
}
void convert_subject() { subject16 = rx_scratch_utf16(1, subject, subject_len, &units); }
void search() { found_end = regexp_search(subject16, units, from, searched, &found_start, rx_head(searched)->flags); }

Outcome run_search(DW re) {
  searched = re;
  found_end = found_start = -1;
  Outcome o{fuzz::guarded(search), -1, -1, {}};
  if (o.code || found_end < 0) return o;
  o.start = found_start;
  o.end = found_end;
  if (o.start < from || o.start > o.end || o.end > units) {
    std::fprintf(stderr, "match %d..%d outside %d..%d\n", o.start, o.end, from, units);
    std::abort();
  }
  for (int g = 1; g <= rx_last.groups; g++) {
    int32_t a = rx_last.span[2 * g], b = rx_last.span[2 * g + 1];
    if (!(a == -1 && b == -1) && (a < 0 || a > b || b > units)) {
      std::fprintf(stderr, "group %d spans %d..%d of %d units\n", g, a, b, units);
      std::abort();
    }
    o.spans.append(reinterpret_cast<const char*>(&a), sizeof a).append(reinterpret_cast<const char*>(&b), sizeof b);
  }
  return o;
}

bool compiler_error(int code) { return (code >= 4600 && code <= 4805) || code == 1595; }
bool search_error(int code) { return code == RX_ERR_STEPS || code == RX_ERR_STACK; }

[[noreturn]] void finding(const char* what, int code) {
  std::fprintf(stderr, "%s (code %d): pattern '%.*s' flags '%s' source '%s'\n%s\n", what, code,
               static_cast<int>(pattern_len), pattern, flags, source.c_str(), message_buffer);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz::engine_reset();
  store_switch_to_run_phase();
  rx_step_limit = 200000;
  // Flags: i, m, s, y and g from the low bits of the first byte.
  int nf = 0;
  for (int b = 0; b < 5; b++)
    if (data[0] & (1 << b)) flags[nf++] = "imsyg"[b];
  flags[nf] = 0;
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t zero = rest.find('\0');
  std::string pat = rest.substr(0, zero), subj = zero == std::string::npos ? "" : rest.substr(zero + 1);
  pattern = pat.data();
  pattern_len = pat.size();
  subject = subj.data();
  subject_len = subj.size();
  source.clear();
  int code = fuzz::guarded(compile);
  if (code) {
    if (!compiler_error(code)) finding("unexpected compile error", code);
    return 0;
  }
  code = fuzz::guarded(regenerate);
  if (code) finding("regenerated source does not compile", code);
  if (fuzz::guarded(convert_subject)) return 0;
  // A few start positions: the beginning, the middle and the end.
  for (int32_t at : {0, units / 2, units}) {
    from = at;
    Outcome a = run_search(compiled);
    if (a.code && !search_error(a.code)) finding("unexpected search error", a.code);
    if (a.code) continue;
    Outcome b = run_search(regenerated);
    if (b.code && !search_error(b.code)) finding("unexpected search error (regenerated)", b.code);
    if (!b.code && !(a == b)) finding("regenerated pattern finds something else", 0);
  }
  return 0;
}
