// Error records: the value that a raise or a script's throw of an Error carries.
#include <cstring>

#include "errors/raise.h"
#include "store/store.h"

DW make_error_value(uint8_t codeKind, const char* code, size_t codeLen, const char* msg, size_t msgLen) {
  if (codeLen > 0xFFFF || msgLen > 0xFFFF) raise_eval_error(2360, "例外ステートメント不正");
  size_t need = 6 + codeLen + 2 + msgLen + 1;
  size_t size = msgLen + 36;
  if (size < need) size = need;
  void* mem;
  DW h = area_new(size, &mem);
  auto* p = static_cast<uint8_t*>(mem);
  p[0] = T_ERROR;
  p[1] = codeKind;
  uint16_t ml = static_cast<uint16_t>(msgLen), cl = static_cast<uint16_t>(codeLen);
  std::memcpy(p + 2, &ml, 2);
  std::memcpy(p + 4, &cl, 2);
  if (codeLen) std::memcpy(p + 6, code, codeLen);
  p[6 + codeLen] = 0;
  p[6 + codeLen + 1] = 0;
  if (msgLen) std::memcpy(p + 8 + codeLen, msg, msgLen);
  p[8 + codeLen + msgLen] = 0;
  return (h & 0xF0FFFFFF) | (static_cast<DW>(T_ERROR) << 24);
}

DW make_error_record(const char* code, size_t codeLen, const char* msg, size_t msgLen) {
  return make_error_value(0, code, codeLen, msg, msgLen);
}

const char* error_code_text(DW rec, size_t* len) {
  auto* p = static_cast<const uint8_t*>(area_ptr(rec));
  uint16_t cl;
  std::memcpy(&cl, p + 4, 2);
  *len = cl;
  return reinterpret_cast<const char*>(p + 6);
}

const char* error_message_text(DW rec, size_t* len) {
  auto* p = static_cast<const uint8_t*>(area_ptr(rec));
  uint16_t ml, cl;
  std::memcpy(&ml, p + 2, 2);
  std::memcpy(&cl, p + 4, 2);
  *len = ml;
  return reinterpret_cast<const char*>(p + 8 + cl);
}
