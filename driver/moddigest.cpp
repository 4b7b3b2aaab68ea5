// The module directory digest.
#include "driver/moddigest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "driver/sha256.h"
#include "platform/platform.h"

struct DigestEntry {
  char* path;
  char time[64];
  char size[32];
};

struct DigestList {
  DigestEntry* items;
  size_t count, cap;
  bool failed;
};

// Script files: the extension after the last "." is exactly "j" or "J" and one of "sSoO".
static bool is_script_file(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot || std::strlen(dot) != 3) return false;
  return (dot[1] == 'j' || dot[1] == 'J') &&
         (dot[2] == 's' || dot[2] == 'S' || dot[2] == 'o' || dot[2] == 'O');
}

static void collect(void* ctx, const DirEntryInfo* e) {
  auto* list = static_cast<DigestList*>(ctx);
  if (list->failed || !is_script_file(e->name)) return;
  struct tm tm;
  if (!gmtime_r(&e->mtime, &tm)) {
    std::fputs("FileTimeToSystemTime Error\n", stdout);
    std::fflush(stdout);
    std::exit(2);
  }
  if (list->count == list->cap) {
    size_t cap = list->cap ? list->cap * 2 : 64;
    auto* grown = static_cast<DigestEntry*>(std::realloc(list->items, cap * sizeof(DigestEntry)));
    if (!grown) {
      list->failed = true;
      return;
    }
    list->items = grown;
    list->cap = cap;
  }
  DigestEntry* d = &list->items[list->count];
  d->path = strdup(e->path);
  if (!d->path) {
    list->failed = true;
    return;
  }
  // The file time as the listing has always shown it: UTC fields with 9 added to the hour only.
  std::snprintf(d->time, sizeof d->time, "%d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour + 9, tm.tm_min, tm.tm_sec);
  std::snprintf(d->size, sizeof d->size, "%d:%d", static_cast<int>(static_cast<uint32_t>(e->size >> 32)),
                static_cast<int>(static_cast<uint32_t>(e->size)));
  list->count++;
}

static int by_path(const void* a, const void* b) {
  return std::strcmp(static_cast<const DigestEntry*>(a)->path, static_cast<const DigestEntry*>(b)->path);
}

char* module_dir_listing(const char* dir, size_t* len) {
  DigestList list{nullptr, 0, 0, false};
  dir_walk(dir, collect, &list);
  if (list.count > 1) std::qsort(list.items, list.count, sizeof(DigestEntry), by_path);  // no items: no array at all
  size_t total = 1;
  for (size_t i = 0; i < list.count; i++)
    total += std::strlen(list.items[i].path) + std::strlen(list.items[i].time) + std::strlen(list.items[i].size) + 3;
  char* text = list.failed ? nullptr : static_cast<char*>(std::malloc(total));
  size_t used = 0;
  for (size_t i = 0; i < list.count; i++) {
    if (text)
      used += static_cast<size_t>(std::snprintf(text + used, total - used, "%s;%s;%s\n", list.items[i].path,
                                                list.items[i].time, list.items[i].size));
    std::free(list.items[i].path);
  }
  std::free(list.items);
  if (text) text[used] = 0;
  *len = used;
  return text;
}

void module_dir_digest(const char* dir, char out[65]) {
  size_t len;
  char* text = module_dir_listing(dir, &len);
  if (!text) {
    std::memcpy(out, "?", 2);  // no digest: never equal to an expected one
    return;
  }
  sha256_hex(text, len, out);
  std::free(text);
}
