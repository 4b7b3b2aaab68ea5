// UTF-8 <-> UTF-16 conversion without surrogate pairs.
#include "store/utf16_text.h"

#include "errors/raise.h"

int MultiToWide(const char* src, int srclen, uint16_t* dst, int dstmax) {
  const auto* s = reinterpret_cast<const uint8_t*>(src);
  int i = 0, n = 0;
  if (srclen <= 0 || s[0] == 0) {
    dst[0] = 0;
    dst[1] = 0;
    return 0;
  }
  while (i < srclen && n < dstmax) {
    uint8_t c = s[i];
    if (c == 0) break;
    if (c < 0x80) {
      dst[n++] = c;
      i++;
      continue;
    }
    int extra;
    uint32_t cp;
    if (c >= 0xC0 && c <= 0xDF) {
      extra = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF7) {
      raise_eval_error(1595, "MultiToWide 文字の変換エラー(サロゲート文字)");
    } else {
      // A continuation byte or 0xF8-0xFF in lead position.
      dst[n++] = 0xFFFD;
      i++;
      continue;
    }
    int k = 1;
    for (; k <= extra; k++) {
      if (i + k >= srclen || (s[i + k] & 0xC0) != 0x80) break;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (k <= extra) {
      // A cut sequence: the lead alone becomes U+FFFD, the following bytes are read again.
      dst[n++] = 0xFFFD;
      i++;
      continue;
    }
    dst[n++] = static_cast<uint16_t>(cp);
    i += extra + 1;
  }
  dst[n] = 0;
  return n;
}

int WideToMulti(const uint16_t* src, int srclen, char* dst, int dstmax) {
  int n = 0;
  for (int i = 0; i < srclen; i++) {
    uint16_t u = src[i];
    if (u == 0 || n >= dstmax) break;
    if (u < 0x80) {
      dst[n++] = static_cast<char>(u);
    } else if (u < 0x800) {
      dst[n++] = static_cast<char>(0xC0 | (u >> 6));
      dst[n++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      dst[n++] = static_cast<char>(0xE0 | (u >> 12));
      dst[n++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      dst[n++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  dst[n] = 0;
  return n;
}
