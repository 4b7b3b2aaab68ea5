// The journal: collection in memory (a static buffer, then overflow chunks in order) and the
// single locked append of the whole entry at the end of the process.
#include "driver/journal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/protocol.h"
#include "platform/layout.h"
#include "platform/platform.h"

LARGE_STATIC char journal_buffer[JOURNAL_BUFFER_SIZE];
size_t journal_used = 0;
JournalChunk* journal_first = nullptr;
JournalChunk* journal_last = nullptr;
int journal_lock_attempts = 50;
int journal_lock_pause_ms = 100;

void journal_append(const char* text, size_t len) {
  len = strnlen(text, len);
  if (len == 0) return;
  if (journal_used + len + 4 >= JOURNAL_BUFFER_SIZE) {
    // The buffer's contents and the new text move together into a chunk of their own.
    size_t total = journal_used + len;
    auto* c = static_cast<JournalChunk*>(std::malloc(offsetof(JournalChunk, text) + total + 36));
    if (!c) raise_eval_error(1400, "メモリ領域を取得できません");
    std::memcpy(c->text, journal_buffer, journal_used);
    std::memcpy(c->text + journal_used, text, len);
    c->len = total;
    c->prev = journal_last;
    c->next = nullptr;
    if (journal_last) journal_last->next = c;
    else journal_first = c;
    journal_last = c;
    journal_used = 0;
    return;
  }
  std::memcpy(journal_buffer + journal_used, text, len);
  journal_used += len;
}

void journal_append_text(const char* text) { journal_append(text, std::strlen(text)); }

bool journal_write() {
  int fd = -1;
  for (int attempt = 0; attempt < journal_lock_attempts; attempt++) {
    if (attempt > 0) sleep_ms(journal_lock_pause_ms);
    fd = file_open_locked(journal_path);
    if (fd >= 0) break;
  }
  if (fd < 0) {
    write_journal_failure_record(journal_path);
    return false;
  }
  char line[128];
  int n = std::snprintf(line, sizeof line, "-----  start : %s  -----\n", start_time_text());
  file_write_all(fd, line, static_cast<size_t>(n));
  for (JournalChunk* c = journal_first; c;) {
    JournalChunk* next = c->next;
    file_write_all(fd, c->text, c->len);
    std::free(c);
    c = next;
  }
  journal_first = journal_last = nullptr;
  file_write_all(fd, journal_buffer, journal_used);
  journal_used = 0;
  char now[48];
  clock_local_text(now, sizeof now);
  n = std::snprintf(line, sizeof line, "\n=====  end : %s  ===== \n", now);
  file_write_all(fd, line, static_cast<size_t>(n));
  file_close(fd);
  return true;
}
