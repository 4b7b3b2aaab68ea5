// Text helpers: UTF-8 validity, Shift-JIS conversion for display, trimming.
#include "tools/dbg/text.h"

#include <iconv.h>

namespace {
bool valid_utf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!n || i + n > s.size()) return false;
    for (size_t k = 1; k < n; k++)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    i += n;
  }
  return true;
}
}  // namespace

std::string display_text(const std::string& s) {
  if (valid_utf8(s)) return s;
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return s;
  std::string out(s.size() * 3 + 16, '\0');
  char* in = const_cast<char*>(s.data());
  size_t inLeft = s.size(), outLeft = out.size();
  char* o = out.data();
  while (inLeft && iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
    // An unconvertible byte is kept as it is.
    if (!outLeft) break;
    *o++ = *in++;
    inLeft--;
    outLeft--;
  }
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}
