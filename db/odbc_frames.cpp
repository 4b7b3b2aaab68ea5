// Per-call resource frames: what a statement operation allocated, and when it is released.
#include <cstdlib>
#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"
#include "errors/jump.h"
#include "errors/raise.h"
#include "platform/layout.h"

constexpr int MAX_FRAMES = 256;
struct frame_slot {
  odbc_frame f;
  uint64_t seq;     // order of beginning; 0 = free
};
LARGE_STATIC static frame_slot frames[MAX_FRAMES];
static int frames_touched;   // slots 0 .. frames_touched-1 have been used; the rest were never touched
static uint64_t frame_seq;
static int frames_live;      // frames in use
static int first_cleanup;    // clean-up position of the first frame in use

static frame_slot* slot_of(odbc_frame* f) { return reinterpret_cast<frame_slot*>(f); }

static void release(frame_slot* s) {
  odbc_frame* f = &s->f;
  if (f->stmt && odbc_slots[E_SQLFreeHandle]) ODBC_CALL(SQLFreeHandle)(SQL_HANDLE_STMT, f->stmt);
  std::free(f->scratch);
  std::free(f->row);
  std::free(f->columns);
  std::free(f->cell_text);
  if (f->spill) {
    for (int i = 0; i < f->spill_count; i++) std::free(f->spill[i].p);
    std::free(f->spill);
  }
  std::memset(s, 0, sizeof *s);
  frames_live--;
}

// Registered as the frame's clean-up: a jump that leaves the operation releases it.
static void release_abandoned(void* slot) {
  auto* s = static_cast<frame_slot*>(slot);
  if (s->seq) release(s);
}

odbc_frame* frame_begin() {
  frame_slot* free_slot = nullptr;
  for (int i = 0; i < frames_touched && !free_slot; i++)
    if (!frames[i].seq) free_slot = &frames[i];
  if (!free_slot) {
    if (frames_touched == MAX_FRAMES) raise_eval_error(1400, "メモリ領域を取得できません");
    free_slot = &frames[frames_touched++];
  }
  int at = cleanup_push(release_abandoned, free_slot);
  // Frames nest: the first of those in use began when none was.
  if (!frames_live) first_cleanup = at;
  frames_live++;
  free_slot->seq = ++frame_seq;
  free_slot->f.cleanup_at = at;
  return &free_slot->f;
}

void frame_end(odbc_frame* f) {
  if (!slot_of(f)->seq) return;
  // Whatever registered after f ran inside its operation, which is over.
  cleanup_run_from(f->cleanup_at);
}

void frame_release_all() {
  if (frames_live) cleanup_run_from(first_cleanup);
  for (int i = 0; i < frames_touched; i++)
    if (frames[i].seq) release(&frames[i]);
}

int frames_in_use() { return frames_live; }

void frame_forget_connection(SQLHDBC dbc) {
  for (int i = 0; i < frames_touched; i++)
    if (frames[i].seq && frames[i].f.dbc == dbc) frames[i].f.stmt = nullptr;
}

void odbc_raise(odbc_frame* f, int code, const char* message) {
  if (f) frame_end(f);
  raise_eval_error(code, "%s", message);
}

char* spill_reserve(odbc_frame* f, int col, size_t size) {
  if (col >= f->spill_count) {
    int n = col + 1 > 256 ? col + 1 : 256;
    f->spill = static_cast<spill_buf*>(db_realloc(f->spill, sizeof(spill_buf) * n));
    std::memset(f->spill + f->spill_count, 0, sizeof(spill_buf) * (n - f->spill_count));
    f->spill_count = n;
  }
  spill_buf& b = f->spill[col];
  if (b.cap < size) {
    b.p = static_cast<char*>(db_realloc(b.p, size));
    b.cap = size;
  }
  return b.p;
}
