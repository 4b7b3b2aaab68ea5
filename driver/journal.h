// The journal: texts collected in memory during the run and appended to the journal file at the
// end of the process in one entry, under an exclusive lock.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int JOURNAL_BUFFER_SIZE = 32768;

// Texts that did not fit the buffer, in order of collection.
struct JournalChunk {
  JournalChunk* prev;
  JournalChunk* next;
  size_t len;
  char text[1];
};

extern char journal_buffer[JOURNAL_BUFFER_SIZE];
extern size_t journal_used;
extern JournalChunk* journal_first;
extern JournalChunk* journal_last;

// Collects text up to its first zero byte (or len bytes).
void journal_append(const char* text, size_t len);
// Collects a zero-terminated text.
void journal_append_text(const char* text);
// Appends the collection to the journal file (journal_path) and empties it. When the file cannot
// be opened and locked after all attempts, writes the journal-failure record and keeps the
// collection. Returns whether the entry was written.
bool journal_write();
// Attempts and pause of the exclusive open (tests shorten them).
extern int journal_lock_attempts;
extern int journal_lock_pause_ms;
