// Installing a compiled module: the image is checked whole in one pass over its sections, then
// installed in a second: block copies, the module number in node and function records, the
// name table, globals, the remapping and relocation lists and the statements.
#include "driver/compiled_module.h"

#include <cstdlib>
#include <cstring>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/image_unpack.h"
#include "eval/globals.h"
#include "frontend/name_image.h"
#include "platform/layout.h"

namespace {

inline uint32_t get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

const char* image_module_name;

[[noreturn]] void refuse(int code) {
  switch (code) {
    case IMAGE_ERR_SIZE: raise_parse_error(code, "コンパイルモジュールのサイズ不正 '%s'", image_module_name);
    case IMAGE_ERR_SECTION: raise_parse_error(code, "コンパイルモジュールのセクション不正 '%s'", image_module_name);
    case IMAGE_ERR_POSITION: raise_parse_error(code, "コンパイルモジュールの位置不正 '%s'", image_module_name);
    default: raise_parse_error(code, "コンパイルモジュールの名前表不正 '%s'", image_module_name);
  }
}

struct Section {
  uint32_t tag, arg;
  const uint8_t* payload;
  uint64_t count;   // records, words or entries (per tag)
};

// One section at *pos of the stream s[0, size); false at the end. Refuses a section whose
// payload does not fit in what is left of the stream.
bool next_section(const uint8_t* s, size_t size, size_t* pos, Section* sec) {
  size_t left = size - *pos;
  if (left == 0) return false;
  if (left < 4) refuse(IMAGE_ERR_SECTION);
  sec->tag = get32(s + *pos);
  if (sec->tag == IMAGE_END) return false;
  if (left < 8) refuse(IMAGE_ERR_SECTION);
  sec->arg = get32(s + *pos + 4);
  sec->payload = s + *pos + 8;
  left -= 8;
  uint64_t h = sec->arg >> 16, l = sec->arg & 0xFFFF, bytes;
  switch (sec->tag) {
    case IMAGE_DW_BLOCKS:
      if (l > 256) refuse(IMAGE_ERR_SECTION);
      sec->count = h * 256 + l;
      bytes = sec->count * 16;
      break;
    case IMAGE_WORD_BLOCKS:
      if (l > 1024) refuse(IMAGE_ERR_SECTION);
      sec->count = h * 1024 + l;
      bytes = (sec->count + h + (l > 0)) * 4;
      break;
    case IMAGE_NAMES: {
      sec->count = sec->arg;
      uint64_t tables = sec->count * 20;
      if (tables + 4 > left) refuse(IMAGE_ERR_SECTION);
      bytes = tables + 4 + get32(sec->payload + tables);
      break;
    }
    default:
      sec->count = sec->arg;
      bytes = sec->count * 4;
      break;
  }
  if (bytes > left) refuse(IMAGE_ERR_SECTION);
  *pos += 8 + static_cast<size_t>(bytes);
  return true;
}

// What the module installs, as the checking pass learns it in stream order.
struct Layout {
  const uint8_t* records;   // the DW section's records (null before it)
  uint64_t nrecords;
  uint32_t dw_blocks, dw_last;   // blocks and records in the last one (L)
  const uint8_t* words;     // the word-area section's words
  uint64_t nwords;
  uint32_t word_blocks;
  uint32_t used[1024];      // used words per word-area block
  NameImage names;
  bool has_names;
  uint32_t name_limit;      // identifiers below this are valid
};
LARGE_STATIC Layout lay;

// Every word that a list patches, marked once: a word listed twice (relocated twice, or both
// remapped and relocated) would end up outside the blocks it should name.
uint8_t* patch_marks;
size_t patch_marks_size;

void marks_reset(uint64_t bits) {
  size_t bytes = static_cast<size_t>((bits + 7) / 8);
  if (bytes > patch_marks_size) {
    uint8_t* grown = static_cast<uint8_t*>(std::malloc(bytes));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    std::free(patch_marks);
    patch_marks = grown;
    patch_marks_size = bytes;
  }
  if (bytes) std::memset(patch_marks, 0, bytes);
}

void mark_once(uint64_t bit) {
  uint8_t& b = patch_marks[bit >> 3];
  uint8_t m = static_cast<uint8_t>(1u << (bit & 7));
  if (b & m) refuse(IMAGE_ERR_POSITION);
  b |= m;
}

// Index of the word named by a DW-block position, refused unless inside the installed records.
uint64_t record_word(uint32_t pos) {
  uint64_t blk = pos >> 16, w = pos & 0xFFFF;
  if (w >= 1024 || blk * 1024 + w >= lay.nrecords * 4) refuse(IMAGE_ERR_POSITION);
  return blk * 1024 + w;
}
// Index of the word named by a word-area position, refused unless inside a block's used words.
uint64_t area_word(uint32_t pos) {
  uint64_t blk = pos >> 10, w = pos & 0x3FF;
  if (blk >= lay.word_blocks || w >= lay.used[blk] || blk * 1024 + w >= lay.nwords) refuse(IMAGE_ERR_POSITION);
  return blk * 1024 + w;
}

bool names_installed_record(DW h) {
  uint64_t rec = static_cast<uint64_t>((h >> 8) & 0xFFF) * 256 + (h & 0xFF);
  return rec < lay.nrecords;
}
bool names_installed_words(DW h) {
  uint32_t blk = (h >> 10) & 0x3FF;
  return ((h >> 20) & 0xF) == 0 && blk < lay.word_blocks && (h & 0x3FF) < lay.used[blk];
}
bool is_record_type(unsigned t) { return t == T_INT || t == T_DATE || (t >= T_FLOAT && t <= T_FUNC); }

// A word of a list's target: what it must name depends on the list.
void check_value(uint32_t tag, uint32_t v) {
  bool ok;
  switch (tag) {
    case IMAGE_REMAP_IN_RECORDS:
    case IMAGE_REMAP_IN_WORDS: ok = (v & 0x0FFFFFFF) < lay.name_limit; break;
    case IMAGE_DW_IN_RECORDS:
    case IMAGE_DW_IN_WORDS: ok = names_installed_record(v); break;
    default: ok = names_installed_words(v); break;
  }
  if (!ok) refuse(IMAGE_ERR_POSITION);
}

// A top-level statement: a tree of installed records, a regular expression in the installed
// words, or a constant or name.
void check_statement(DW h) {
  unsigned t = dw_type(h);
  bool ok;
  if (t == T_CONST) ok = h < lay.name_limit;
  else if (t == T_REGEXP) ok = names_installed_words(h);
  else if (is_record_type(t)) {
    ok = names_installed_record(h);
    if (ok) {
      uint64_t rec = static_cast<uint64_t>((h >> 8) & 0xFFF) * 256 + (h & 0xFF);
      ok = (lay.records[rec * 16] & 0xF) == t;
    }
  } else ok = false;
  if (!ok) refuse(IMAGE_ERR_POSITION);
}

// The checking pass: nothing is written but the layout and the marks.
void check_image(const uint8_t* s, size_t size) {
  std::memset(&lay, 0, sizeof lay);
  lay.name_limit = NAME_RESERVED_COUNT;
  size_t pos = 0;
  Section sec;
  bool marks_ready = false;
  while (next_section(s, size, &pos, &sec)) {
    const uint8_t* p = sec.payload;
    switch (sec.tag) {
      case IMAGE_DW_BLOCKS: {
        if (lay.records || marks_ready) refuse(IMAGE_ERR_SECTION);
        uint32_t h = sec.arg >> 16, l = sec.arg & 0xFFFF;
        uint64_t blocks = static_cast<uint64_t>(h) + (l > 0);
        if (blocks >= 4096) refuse(IMAGE_ERR_SECTION);
        lay.records = p;
        lay.nrecords = sec.count;
        lay.dw_blocks = static_cast<uint32_t>(blocks);
        lay.dw_last = l;
        break;
      }
      case IMAGE_WORD_BLOCKS: {
        if (lay.words || marks_ready) refuse(IMAGE_ERR_SECTION);
        uint32_t h = sec.arg >> 16, l = sec.arg & 0xFFFF;
        uint64_t blocks = static_cast<uint64_t>(h) + (l > 0);
        if (blocks > 1024) refuse(IMAGE_ERR_SECTION);
        lay.words = p;
        lay.nwords = sec.count;
        lay.word_blocks = static_cast<uint32_t>(blocks);
        for (uint32_t k = 0; k < blocks; k++) {
          lay.used[k] = get32(p + (sec.count + k) * 4);
          if (lay.used[k] > 1024) refuse(IMAGE_ERR_SECTION);
        }
        break;
      }
      case IMAGE_NAMES: {
        if (lay.has_names) refuse(IMAGE_ERR_SECTION);
        uint32_t n = sec.arg;
        lay.names.entries = p;
        lay.names.pairs = p + static_cast<size_t>(n) * 12;
        lay.names.pool_size = get32(p + static_cast<size_t>(n) * 20);
        lay.names.pool = p + static_cast<size_t>(n) * 20 + 4;
        lay.names.count = n;
        if (!name_image_valid(lay.names)) refuse(IMAGE_ERR_NAMES);
        lay.has_names = true;
        lay.name_limit = n;
        break;
      }
      case IMAGE_GLOBALS:
        for (uint64_t i = 0; i < sec.count; i++)
          if ((get32(p + i * 4) & 0x0FFFFFFF) >= lay.name_limit) refuse(IMAGE_ERR_POSITION);
        break;
      case IMAGE_REMAP_IN_RECORDS:
      case IMAGE_DW_IN_RECORDS:
      case IMAGE_WORDS_IN_RECORDS:
      case IMAGE_REMAP_IN_WORDS:
      case IMAGE_DW_IN_WORDS:
      case IMAGE_WORDS_IN_WORDS: {
        if (!marks_ready) {
          // The block sections precede every list; from here on the blocks are known.
          marks_reset(lay.nrecords * 4 + static_cast<uint64_t>(lay.word_blocks) * 1024);
          marks_ready = true;
        }
        bool in_records = sec.tag <= IMAGE_WORDS_IN_RECORDS;
        for (uint64_t i = 0; i < sec.count; i++) {
          uint32_t position = get32(p + i * 4);
          uint64_t w = in_records ? record_word(position) : area_word(position);
          mark_once(in_records ? w : lay.nrecords * 4 + w);
          check_value(sec.tag, get32((in_records ? lay.records : lay.words) + w * 4));
        }
        break;
      }
      case IMAGE_STATEMENTS:
        for (uint64_t i = 0; i < sec.count; i++) check_statement(get32(p + i * 4));
        break;
      default:
        break;   // unknown sections are skipped
    }
  }
}

// Identifiers of the merged names (1,024 without allocation).
LARGE_STATIC uint32_t remap_initial[1024];
uint32_t* remap_table = remap_initial;
uint32_t remap_capacity = 1024;

uint32_t* remap_room(uint32_t n) {
  if (n > remap_capacity) {
    uint32_t* grown = static_cast<uint32_t*>(std::malloc(sizeof(uint32_t) * n));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    if (remap_table != remap_initial) std::free(remap_table);
    remap_table = grown;
    remap_capacity = n;
  }
  return remap_table;
}

}  // namespace

void install_compiled_module(const unsigned char* data, size_t size, int module, StatementList* list) {
  parse_module = module;
  parse_line = 0;
  image_module_name = module_name(module);
  if (size < 8) refuse(IMAGE_ERR_SIZE);
  uint32_t S = get32(data), P = get32(data + 4);
  const uint8_t* s;
  if (P == S) {
    if (S > size - 8) refuse(IMAGE_ERR_SIZE);
    s = data + 8;
  } else {
    if (P > size - 8) refuse(IMAGE_ERR_SIZE);
    s = image_unpack(data + 8, P, S);
    if (!s) refuse(IMAGE_ERR_SIZE);
  }
  check_image(s, S);

  // Installing: every check has passed. The floors go up first (again, if the caller raised
  // them already: that changes nothing), so that the blocks land on fresh block numbers.
  store_raise_floors();
  unsigned dw_base = 0, word_base = 0;
  bool remapping = false;
  uint8_t* dw_mem = nullptr;
  uint8_t* word_mem = nullptr;
  size_t pos = 0;
  Section sec;
  while (next_section(s, S, &pos, &sec)) {
    const uint8_t* p = sec.payload;
    switch (sec.tag) {
      case IMAGE_DW_BLOCKS: {
        dw_mem = store_install_dw_blocks(lay.dw_blocks, lay.dw_last, &dw_base);
        if (!dw_mem) break;
        size_t bytes = static_cast<size_t>(lay.nrecords) * 16;
        std::memcpy(dw_mem, p, bytes);
        uint8_t mod = static_cast<uint8_t>(module & 0x7F);
        for (size_t r = 0; r < bytes; r += 16) {
          unsigned t = dw_mem[r] & 0xF;
          if (t == T_NODE || t == T_FUNC) dw_mem[r + 1] = static_cast<uint8_t>((dw_mem[r + 1] & 0x80) | mod);
        }
        break;
      }
      case IMAGE_WORD_BLOCKS:
        word_mem = store_install_word_blocks(lay.word_blocks, lay.used, &word_base);
        if (word_mem) std::memcpy(word_mem, p, static_cast<size_t>(lay.nwords) * 4);
        break;
      case IMAGE_NAMES:
        if (name_table_only_reserved()) {
          name_table_replace(lay.names);
        } else {
          name_table_merge(lay.names, remap_room(lay.names.count));
          remapping = true;
        }
        break;
      case IMAGE_GLOBALS: {
        bool fill = global_top < 0;
        for (uint64_t i = 0; i < sec.count; i++) {
          uint32_t id = get32(p + i * 4) & 0x0FFFFFFF;
          if (remapping) id = remap_table[id];
          if (fill || global_find_up(id) < 0) global_append(id, DW_UNDEFINED);
        }
        break;
      }
      case IMAGE_REMAP_IN_RECORDS:
      case IMAGE_REMAP_IN_WORDS: {
        if (!remapping) break;
        uint8_t* base = sec.tag == IMAGE_REMAP_IN_RECORDS ? dw_mem : word_mem;
        for (uint64_t i = 0; i < sec.count; i++) {
          uint32_t position = get32(p + i * 4);
          uint8_t* w = base + (sec.tag == IMAGE_REMAP_IN_RECORDS ? record_word(position) : area_word(position)) * 4;
          put32(w, remap_table[get32(w) & 0x0FFFFFFF]);
        }
        break;
      }
      case IMAGE_DW_IN_RECORDS:
      case IMAGE_WORDS_IN_RECORDS:
      case IMAGE_DW_IN_WORDS:
      case IMAGE_WORDS_IN_WORDS: {
        bool dw = sec.tag == IMAGE_DW_IN_RECORDS || sec.tag == IMAGE_DW_IN_WORDS;
        uint32_t add = dw ? dw_base << 8 : word_base << 10;
        if (add == 0) break;
        bool in_records = sec.tag <= IMAGE_WORDS_IN_RECORDS;
        uint8_t* base = in_records ? dw_mem : word_mem;
        for (uint64_t i = 0; i < sec.count; i++) {
          uint32_t position = get32(p + i * 4);
          uint8_t* w = base + (in_records ? record_word(position) : area_word(position)) * 4;
          put32(w, get32(w) + add);
        }
        break;
      }
      case IMAGE_STATEMENTS:
        for (uint64_t i = 0; i < sec.count; i++) {
          DW h = get32(p + i * 4);
          unsigned t = dw_type(h);
          // Each kind of handle moves with its own base: a bare name or constant is no record.
          if (t == T_CONST) {
            if (remapping) h = remap_table[h];
          } else if (t == T_REGEXP) {
            h += word_base << 10;
          } else {
            h += dw_base << 8;
          }
          statement_list_append(list, h);
        }
        break;
      default:
        break;
    }
  }
}
