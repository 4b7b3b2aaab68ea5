// Writing a compiled module. The module is parsed twice into a fresh store: once at block 0
// with only the reserved names, once with both floors one block up and one more name before
// the module's own. A word that differs between the two by one DW block is a DW handle, by one
// word-area block a word-area handle, by one name a name identifier; any other difference
// means the parse does not reproduce and the module is not written.
#include "tools/compile/image_writer.h"

#include <cstdlib>
#include <cstring>

#include "driver/compiled_module.h"
#include "driver/config.h"
#include "driver/errors.h"
#include "eval/eval.h"
#include "eval/globals.h"
#include "store/store_state.h"
#include "tools/compile/image_pack.h"

namespace {

constexpr uint32_t DW_SHIFT = 1u << 8;     // one DW block
constexpr uint32_t WORD_SHIFT = 1u << 10;  // one word-area block
constexpr uint32_t NAME_SHIFT = 1;         // one extra name

// The store as one parse left it.
struct Snapshot {
  std::vector<uint8_t> records;   // R records
  std::vector<uint32_t> words;    // every block's 1,024 words
  std::vector<uint32_t> used;     // used words per block
  std::vector<uint32_t> statements;
  std::vector<uint32_t> globals;
  std::vector<uint8_t> entries, pairs, pool;
  uint32_t names = 0;
};

StatementList parsed;
char* parse_text;

// Parses parse_text as module 0 under an outermost frame (nothing here owns a destructor).
bool guarded_parse(bool shifted) {
  store_reset();
  eval_reset();
  name_table_reset();
  if (shifted) {
    name_intern_text(" ", 1);   // the extra name
    dw_floor = 1;
    word_floor = 1;
  }
  void* first;
  area_new(0, &first);   // word 0 is never a handle ("none" in several slots): keep it out of the way
  std::memset(&parsed, 0, sizeof parsed);
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    return false;
  }
  parse_module_text(parse_text, 0, &parsed);
  jump_depth = 0;
  return true;
}

void snapshot(Snapshot* s, uint32_t dw_first, uint32_t word_first) {
  uint32_t blocks = dw_cur_block < 0 ? 0 : static_cast<uint32_t>(dw_cur_block) + 1 - dw_first;
  uint32_t last = dw_next_slot >= 256 ? 256 : dw_next_slot;
  uint32_t nrec = blocks ? (blocks - 1) * 256 + last : 0;
  s->records.resize(static_cast<size_t>(nrec) * 16);
  for (uint32_t r = 0; r < nrec; r++) std::memcpy(&s->records[r * 16], dw_blocks[dw_first + r / 256] + (r % 256) * 16, 16);
  uint32_t wblocks = word_last < 0 ? 0 : static_cast<uint32_t>(word_last) + 1 - word_first;
  s->words.assign(static_cast<size_t>(wblocks) * 1024, 0);
  s->used.resize(wblocks);
  for (uint32_t b = 0; b < wblocks; b++) {
    s->used[b] = word_used[word_first + b];
    std::memcpy(&s->words[b * 1024], word_blocks[word_first + b], 4096);
  }
  s->statements.assign(parsed.items, parsed.items + parsed.count);
  for (int i = 0; i <= global_top; i++) s->globals.push_back(global_table[i].name);
  name_table_flush();
  s->names = name_count;
  s->entries.assign(reinterpret_cast<uint8_t*>(name_entries), reinterpret_cast<uint8_t*>(name_entries + name_count));
  s->pairs.assign(reinterpret_cast<uint8_t*>(name_keys), reinterpret_cast<uint8_t*>(name_keys + name_count));
  s->pool.assign(name_pool, name_pool + name_pool_used);
}

void put32(std::vector<uint8_t>* o, uint32_t v) {
  for (int i = 0; i < 4; i++) o->push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void section(std::vector<uint8_t>* o, uint32_t tag, uint32_t arg) {
  put32(o, tag);
  put32(o, arg);
}
void list_section(std::vector<uint8_t>* o, uint32_t tag, const std::vector<uint32_t>& items) {
  section(o, tag, static_cast<uint32_t>(items.size()));
  for (uint32_t v : items) put32(o, v);
}

// Sorts the words of one area into the three lists by their difference; false on any other.
bool classify(const uint32_t* a, const uint32_t* b, size_t n, bool records, std::vector<uint32_t>* names,
              std::vector<uint32_t>* dws, std::vector<uint32_t>* words) {
  for (size_t i = 0; i < n; i++) {
    uint32_t d = b[i] - a[i];
    if (d == 0) continue;
    uint32_t pos = records ? static_cast<uint32_t>(((i / 1024) << 16) | (i % 1024))
                           : static_cast<uint32_t>(((i / 1024) << 10) | (i % 1024));
    if (d == NAME_SHIFT) names->push_back(pos);
    else if (d == DW_SHIFT) dws->push_back(pos);
    else if (d == WORD_SHIFT) words->push_back(pos);
    else return false;
  }
  return true;
}

}  // namespace

bool build_image(const char* text, size_t len, const char* name, std::vector<uint8_t>* image, std::string* error) {
  config_reset();
  module_add(name, std::strlen(name));
  Snapshot s[2];
  for (int k = 0; k < 2; k++) {
    // The parser writes into its text: each parse gets a fresh copy.
    parse_text = static_cast<char*>(std::malloc(len + 1));
    if (!parse_text) {
      *error = "out of memory";
      return false;
    }
    std::memcpy(parse_text, text, len);
    parse_text[len] = 0;
    bool ok = guarded_parse(k == 1);
    if (ok) snapshot(&s[k], k, k);
    std::free(parse_text);
    if (!ok) {
      *error = message_buffer;
      return false;
    }
  }
  const Snapshot& a = s[0];
  const Snapshot& b = s[1];
  if (a.records.size() != b.records.size() || a.used != b.used || a.statements.size() != b.statements.size() ||
      a.globals.size() != b.globals.size() || b.names != a.names + 1) {
    *error = std::string("the module's parse does not reproduce: ") + name;
    return false;
  }
  std::vector<uint32_t> lists[6];   // remap/DW/word in records, then in words
  std::vector<uint32_t> ra(a.records.size() / 4), rb(b.records.size() / 4);
  if (!ra.empty()) std::memcpy(ra.data(), a.records.data(), a.records.size());
  if (!rb.empty()) std::memcpy(rb.data(), b.records.data(), b.records.size());
  if (!classify(ra.data(), rb.data(), ra.size(), true, &lists[0], &lists[1], &lists[2]) ||
      !classify(a.words.data(), b.words.data(), a.words.size(), false, &lists[3], &lists[4], &lists[5])) {
    *error = std::string("the module's parse does not reproduce: ") + name;
    return false;
  }

  std::vector<uint8_t> o;
  uint32_t nrec = static_cast<uint32_t>(a.records.size() / 16);
  section(&o, IMAGE_DW_BLOCKS, ((nrec / 256) << 16) | (nrec % 256));
  o.insert(o.end(), a.records.begin(), a.records.end());
  uint32_t wb = static_cast<uint32_t>(a.used.size());
  uint32_t lastUsed = wb ? a.used[wb - 1] : 0;
  // Full blocks, then the used words of the last one (a full last block counts as full).
  uint32_t h = lastUsed == 1024 ? wb : (wb ? wb - 1 : 0), l = lastUsed == 1024 ? 0 : lastUsed;
  section(&o, IMAGE_WORD_BLOCKS, (h << 16) | l);
  for (uint32_t i = 0; i < h * 1024 + l; i++) put32(&o, a.words[i]);
  for (uint32_t u : a.used) put32(&o, u);
  section(&o, IMAGE_NAMES, a.names);
  o.insert(o.end(), a.entries.begin(), a.entries.end());
  o.insert(o.end(), a.pairs.begin(), a.pairs.end());
  put32(&o, static_cast<uint32_t>(a.pool.size()));
  o.insert(o.end(), a.pool.begin(), a.pool.end());
  list_section(&o, IMAGE_GLOBALS, a.globals);
  static constexpr uint32_t tags[6] = {IMAGE_REMAP_IN_RECORDS, IMAGE_DW_IN_RECORDS, IMAGE_WORDS_IN_RECORDS,
                                       IMAGE_REMAP_IN_WORDS,   IMAGE_DW_IN_WORDS,   IMAGE_WORDS_IN_WORDS};
  for (int k = 0; k < 6; k++) list_section(&o, tags[k], lists[k]);
  list_section(&o, IMAGE_STATEMENTS, a.statements);
  put32(&o, IMAGE_END);
  *image = wrap_image(o);
  store_reset();
  return true;
}

std::vector<uint8_t> wrap_image(const std::vector<uint8_t>& stream) {
  std::vector<uint8_t> packed = pack_stream(stream);
  bool use = packed.size() < stream.size();
  const std::vector<uint8_t>& body = use ? packed : stream;
  std::vector<uint8_t> out;
  put32(&out, static_cast<uint32_t>(stream.size()));
  put32(&out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}
