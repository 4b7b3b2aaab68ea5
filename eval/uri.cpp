// The global URI functions: decodeURI, decodeURIComponent, encodeURI, encodeURIComponent.
#include <cstdlib>
#include <cstring>

#include "eval/ops.h"
#include "store/hex_codes.h"

static DW decode(DW s, bool component) {
  const uint8_t* t = reinterpret_cast<const uint8_t*>(str_text(s));
  size_t len = str_rec(s)->len;
  // The output is made only once a sequence is replaced.
  char* out = nullptr;
  size_t o = 0;
  for (size_t i = 0; i < len; i++) {
    if (t[i] != '%') {
      if (out) out[o++] = static_cast<char>(t[i]);
      continue;
    }
    int code = percent_byte(reinterpret_cast<const char*>(t), i, len);
    if (code == PERCENT_SHORT) {
      // "%" whose two following positions reach the end: the scan stops.
      if (out) {
        std::memcpy(out + o, t + i, len - i);
        o += len - i;
      }
      break;
    }
    if (code == PERCENT_BAD) raise_eval_error(1510, "デコード文字不正");
    uint8_t b = static_cast<uint8_t>(code);
    bool keep = b == 0 || (!component && std::strchr(";,/?:@&=+$#", b) != nullptr);
    if (keep) {
      if (out) {
        std::memcpy(out + o, t + i, 3);
        o += 3;
      }
    } else {
      if (!out) {
        out = static_cast<char*>(store_alloc(len + 1));
        std::memcpy(out, t, i);
        o = i;
      }
      out[o++] = static_cast<char>(b);
    }
    i += 2;
  }
  if (!out) return s;
  DW res = make_string(out, o, 0);
  std::free(out);
  dw_discard(s);
  return res;
}

static DW encode(DW s, bool component) {
  const uint8_t* t = reinterpret_cast<const uint8_t*>(str_text(s));
  size_t len = str_rec(s)->len;
  const char* keepSet = component ? "-_.!~*'()" : ";,/?:@&=+$-_.!~*'()#";
  size_t encoded = 0;
  for (size_t i = 0; i < len; i++) {
    uint8_t c = t[i];
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 (c != 0 && c < 0x80 && std::strchr(keepSet, c) != nullptr);
    if (!plain) encoded++;
  }
  if (!encoded) return s;
  size_t n = len + 2 * encoded;
  char* out = static_cast<char*>(store_alloc(n + 1));
  size_t o = 0;
  for (size_t i = 0; i < len; i++) {
    uint8_t c = t[i];
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 (c != 0 && c < 0x80 && std::strchr(keepSet, c) != nullptr);
    if (plain) {
      out[o++] = static_cast<char>(c);
    } else {
      out[o++] = '%';
      out[o++] = hex_digit_char(c >> 4);
      out[o++] = hex_digit_char(c);
    }
  }
  DW res = make_string(out, o, 0);
  std::free(out);
  dw_discard(s);
  return res;
}

DW op_uri(DW, NodeRec* r) {
  DW s = eval_node(r->a1);
  bool decoding = r->op == OP_DECODE_URI || r->op == OP_DECODE_URI_COMPONENT;
  if (dw_type(s) != T_STRING) {
    if (decoding) raise_eval_error(2340, "引数不正(非文字列)");
    raise_eval_error(2345, "引数不正(非文字列)");
  }
  switch (r->op) {
    case OP_DECODE_URI: return decode(s, false);
    case OP_DECODE_URI_COMPONENT: return decode(s, true);
    case OP_ENCODE_URI: return encode(s, false);
    default: return encode(s, true);
  }
}
