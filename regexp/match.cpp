// Regular-expression matcher: a backtracking machine with explicit stacks and a step bound.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "regexp/internal.h"

LARGE_STATIC RxMatch rx_last;
long rx_step_limit = RX_STEP_LIMIT;
uint32_t rx_stack_limit = RX_STACK_LIMIT;

namespace {

// A continuation: what to do when the body of a group or lookaround reaches its end.
enum : uint8_t { FR_TOP, FR_GROUP, FR_LOOK };
struct Frame {
  const RxItem* item;     // the item whose body runs (group, or the lookaround's item)
  const RxItem* iend;     // the view of the sequence holding that item
  const uint16_t* pool;
  int32_t parent;         // the frame of that sequence
  int32_t start;          // where this iteration began; lookaround: where it applies
  int32_t count;          // iterations of a quantified group done before this one
  int32_t aux;            // lookaround: stack height of its barrier
  uint8_t kind;
};

// A choice point, or an undo record for a capture.
enum : uint8_t {
  CH_UNDO,          // a = slot, b = old start, c = old end
  CH_GREEDY,        // repeated single item at pos: a = repetitions now, b = minimum, c = width
  CH_LAZY,          // a = repetitions now, b = maximum, c = width
  CH_GROUP_EXIT,    // leave a greedy group loop at pos
  CH_GROUP_ENTER,   // run one more iteration of a lazy group loop (a = iterations done)
  CH_ALT,           // next alternative a of container d, in frame fr
  CH_BARRIER,       // a lookaround's body failed everywhere: a = marker
  CH_BEHIND_NEXT,   // lookbehind: try the body from a - 1, down to b
};
struct Choice {
  const RxItem* ip;
  const RxItem* iend;
  const uint16_t* pool;
  int32_t fr, ftop, pos, a, b, c;
  DW d;
  uint8_t kind;
};

Frame* frames;
uint32_t frames_cap, ftop;
Choice* stack;
uint32_t stack_cap, btop;
int32_t* cap_start;
int32_t* cap_end;
uint32_t cap_size;

// The subject and the flags of the running search.
const uint16_t* S;
int32_t L;
bool icase, multiline, dotall;
long steps, step_limit;

// Makes room for one more entry after `used`; raises when the stack is at its limit.
void* grow(void* p, uint32_t* cap, uint32_t used, size_t elem) {
  if (used >= rx_stack_limit)
    raise_eval_error(RX_ERR_STACK, "正規表現の照合が複雑すぎます (スタック上限 %u)", rx_stack_limit);
  if (used < *cap) return p;
  uint32_t n = *cap ? *cap * 2 : 1024;
  if (n > rx_stack_limit) n = rx_stack_limit;
  void* q = std::realloc(p, n * elem);
  if (!q) raise_eval_error(1400, "メモリ領域を取得できません");
  *cap = n;
  return q;
}

inline Choice* push_choice(uint8_t kind) {
  if (btop >= stack_cap || btop >= rx_stack_limit)
    stack = static_cast<Choice*>(grow(stack, &stack_cap, btop, sizeof(Choice)));
  Choice* c = &stack[btop++];
  c->kind = kind;
  return c;
}

inline int32_t push_frame(uint8_t kind, const RxItem* item, const RxItem* iend, const uint16_t* pool,
                          int32_t parent, int32_t start, int32_t count) {
  if (ftop >= frames_cap || ftop >= rx_stack_limit)
    frames = static_cast<Frame*>(grow(frames, &frames_cap, ftop, sizeof(Frame)));
  Frame* f = &frames[ftop];
  f->kind = kind;
  f->item = item;
  f->iend = iend;
  f->pool = pool;
  f->parent = parent;
  f->start = start;
  f->count = count;
  f->aux = 0;
  return static_cast<int32_t>(ftop++);
}

inline unsigned unit_at(int32_t q) { return icase ? rx_fold(S[q]) : S[q]; }

// Does the (folded) unit satisfy a single-unit item?
inline bool unit_ok(const RxItem* x, const uint16_t* pool, unsigned u) {
  switch (x->kind) {
    case RX_UNIT: return u == pool[x->text];
    case RX_CLASS: return rx_class_has(pool + x->text + x->len + 1, x->cls, u);
    case RX_NCLASS: return !rx_class_has(pool + x->text + x->len + 1, x->cls, u);
    case RX_WORD: return rx_is_word(u);
    case RX_NWORD: return !rx_is_word(u);
    case RX_DIGIT: return rx_is_digit(u);
    case RX_NDIGIT: return !rx_is_digit(u);
    case RX_SPACE: return rx_is_space(u);
    case RX_NSPACE: return !rx_is_space(u);
    case RX_DOT: return dotall || (u != '\n' && u != '\r');
    case RX_ANY: return true;
    default: raise_eval_error(5030, "正規表現のコマンド不正");
  }
}

// Consecutive repetitions, at most max, of a single-unit item from q (max units remain).
inline int32_t count_units(const RxItem* x, const uint16_t* pool, int32_t q, int32_t max) {
  const uint16_t* s = S + q;
  int32_t k = 0;
  switch (x->kind) {
    case RX_UNIT: {
      unsigned c = pool[x->text];
      if (icase) while (k < max && rx_fold(s[k]) == c) k++;
      else while (k < max && s[k] == c) k++;
      return k;
    }
    case RX_CLASS: case RX_NCLASS: {
      const uint16_t* m = pool + x->text + x->len + 1;
      const bool want = x->kind == RX_CLASS;
      const uint8_t cls = x->cls;
      if (icase) while (k < max && rx_class_has(m, cls, rx_fold(s[k])) == want) k++;
      else while (k < max && rx_class_has(m, cls, s[k]) == want) k++;
      return k;
    }
    case RX_WORD: while (k < max && rx_is_word(s[k])) k++; return k;
    case RX_NWORD: while (k < max && !rx_is_word(s[k])) k++; return k;
    case RX_DIGIT: while (k < max && rx_is_digit(s[k])) k++; return k;
    case RX_NDIGIT: while (k < max && !rx_is_digit(s[k])) k++; return k;
    case RX_SPACE: while (k < max && rx_is_space(s[k])) k++; return k;
    case RX_NSPACE: while (k < max && !rx_is_space(s[k])) k++; return k;
    case RX_DOT:
      if (dotall) return max;
      while (k < max && s[k] != '\n' && s[k] != '\r') k++;
      return k;
    case RX_ANY: return max;
    default: unit_ok(x, pool, 0); return 0;  // raises for an unknown kind
  }
}

inline bool is_word_at(int32_t q) { return q >= 0 && q < L && rx_is_word(S[q]); }

// Zero-width items.
inline bool assertion_ok(uint8_t kind, int32_t pos) {
  switch (kind) {
    case RX_BOL: return pos == 0 || (multiline && S[pos - 1] == '\n');
    case RX_EOL: return pos == L || (multiline && (S[pos] == '\n' || S[pos] == '\r'));
    case RX_WBOUND: return is_word_at(pos - 1) != is_word_at(pos);
    case RX_NWBOUND: return is_word_at(pos - 1) == is_word_at(pos);
    default: return true;
  }
}

// Does the captured text of a slot occur at q (w units)?
inline bool backref_at(int32_t slot, int32_t q, int32_t w) {
  if (q + w > L) return false;
  const uint16_t* a = S + cap_start[slot];
  const uint16_t* b = S + q;
  if (!icase) return std::memcmp(a, b, 2 * static_cast<size_t>(w)) == 0;
  for (int32_t k = 0; k < w; k++)
    if (rx_fold(a[k]) != rx_fold(b[k])) return false;
  return true;
}

// The first unit that must follow an item, when the next item is a literal; else -1.
inline int32_t next_literal(const RxItem* x, const RxItem* iend, const uint16_t* pool) {
  const RxItem* y = x + 1;
  if (y == iend || (y->kind != RX_UNIT && y->kind != RX_RUN) || (y->quant && y->min == 0)) return -1;
  return pool[y->text];
}

// Lowers k (repetitions of width 1 from s) to the largest count >= min after which the unit
// lit follows; -1 when there is none. When lit cannot be one of the repetitions, only the
// longest run can be followed by it.
inline int32_t fit_literal(const RxItem* x, const uint16_t* pool, int32_t s, int32_t k, int32_t min,
                           int32_t lit) {
  if (!unit_ok(x, pool, static_cast<unsigned>(lit))) {
    int32_t q = s + k;
    return q < L && static_cast<int32_t>(unit_at(q)) == lit ? k : -1;
  }
  while (k >= min) {
    int32_t q = s + k;
    if (q < L && static_cast<int32_t>(unit_at(q)) == lit) return k;
    k--;
  }
  return -1;
}

// A top-level sequence, resolved once per search.
struct SeqView {
  DW seq;
  const RxItem* items;
  const RxItem* iend;
  const uint16_t* pool;
};

// Runs one compiled sequence anchored at p; true with *end on a match.
bool run(const SeqView& v, int32_t p, int32_t* end) {
  btop = 0;
  ftop = 0;
  const RxItem* ip = v.items;
  const RxItem* iend = v.iend;
  const uint16_t* pl = v.pool;
  int32_t pos = p;
  int32_t fr = push_frame(FR_TOP, nullptr, nullptr, nullptr, -1, p, 0);
  DW body = 0;

next_item:
  if (ip == iend) goto end_of_body;
  if (ip->look == RXL_BEHIND || ip->look == RXL_NBEHIND) {
    uint32_t lo, hi;
    rx_width(ip->body, &lo, &hi);
    int32_t tHi = pos - static_cast<int32_t>(lo);
    int32_t tLo = hi >= RXQ_UNLIMITED || static_cast<int32_t>(hi) > pos ? 0 : pos - static_cast<int32_t>(hi);
    if (tHi < tLo) {  // the body cannot end here
      if (ip->look == RXL_BEHIND) goto fail;
      goto item_body;
    }
    int32_t barrier = static_cast<int32_t>(btop);
    Choice* c = push_choice(CH_BARRIER);
    c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
    c->pos = pos; c->a = ip->look;
    fr = push_frame(FR_LOOK, ip, iend, pl, fr, pos, 0);
    frames[fr].aux = barrier;
    if (tHi > tLo) {
      c = push_choice(CH_BEHIND_NEXT);
      c->fr = fr; c->ftop = static_cast<int32_t>(ftop); c->a = tHi; c->b = tLo;
    }
    pos = tHi;
    body = ip->body;
    goto enter_body;
  }

item_body:
  switch (ip->kind) {
    case RX_RUN: {
      int32_t n = ip->len;
      if (pos + n > L) goto fail;
      const uint16_t* t = pl + ip->text;
      if (icase) {
        for (int32_t k = 0; k < n; k++)
          if (rx_fold(S[pos + k]) != t[k]) goto fail;
      } else if (std::memcmp(S + pos, t, 2 * static_cast<size_t>(n)) != 0) {
        goto fail;
      }
      pos += n;
      goto after_item;
    }
    case RX_BOL: case RX_EOL: case RX_WBOUND: case RX_NWBOUND: case RX_EMPTY:
      if ((ip->quant == 0 || ip->min > 0) && !assertion_ok(ip->kind, pos)) goto fail;
      goto after_item;
    case RX_GROUP:
      fr = push_frame(FR_GROUP, ip, iend, pl, fr, pos, 0);
      body = ip->body;
      goto enter_body;
    case RX_NCGROUP:
      if (ip->quant && ip->min == 0) {
        Choice* c = push_choice((ip->quant & RXQ_LAZY) ? CH_GROUP_ENTER : CH_GROUP_EXIT);
        c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
        c->pos = pos; c->a = 0;
        if (ip->quant & RXQ_LAZY) goto after_item;
      }
      fr = push_frame(FR_GROUP, ip, iend, pl, fr, pos, 0);
      body = ip->body;
      goto enter_body;
    case RX_BACKREF: {
      int32_t slot = static_cast<int32_t>(ip->name);
      int32_t w = cap_start[slot] < 0 ? 0 : cap_end[slot] - cap_start[slot];
      if (w == 0) goto after_item;  // an empty or missing capture matches the empty text
      int32_t min = ip->quant ? ip->min : 1;
      int32_t max = ip->quant ? (ip->max == RXQ_UNLIMITED ? 0x7FFFFFFF : ip->max) : 1;
      int32_t k = 0;
      if (ip->quant & RXQ_LAZY) {
        while (k < min && backref_at(slot, pos + k * w, w)) k++;
        if (k < min) goto fail;
        if (k < max) {
          Choice* c = push_choice(CH_LAZY);
          c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
          c->pos = pos; c->a = k; c->b = max; c->c = w;
        }
      } else {
        while (k < max && backref_at(slot, pos + k * w, w)) k++;
        if (k < min) goto fail;
        if (k > min) {
          Choice* c = push_choice(CH_GREEDY);
          c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
          c->pos = pos; c->a = k; c->b = min; c->c = w;
        }
      }
      pos += k * w;
      goto after_item;
    }
    default: {
      if (!ip->quant) {
        if (pos < L && unit_ok(ip, pl, unit_at(pos))) {
          pos++;
          goto after_item;
        }
        goto fail;
      }
      int32_t min = ip->min;
      int32_t room = L - pos;
      int32_t max = ip->max == RXQ_UNLIMITED || ip->max > room ? room : ip->max;
      if (min > room) goto fail;
      int32_t k = 0;
      if (ip->quant & RXQ_LAZY) {
        while (k < min && unit_ok(ip, pl, unit_at(pos + k))) k++;
        if (k < min) goto fail;
        if (k < max) {
          Choice* c = push_choice(CH_LAZY);
          c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
          c->pos = pos; c->a = k; c->b = max; c->c = 1;
        }
      } else {
        k = count_units(ip, pl, pos, max);
        if (k < min) goto fail;
        int32_t lit = ip->look ? -1 : next_literal(ip, iend, pl);
        if (lit >= 0) {
          k = fit_literal(ip, pl, pos, k, min, lit);
          if (k < 0) goto fail;
        }
        if (k > min) {
          Choice* c = push_choice(CH_GREEDY);
          c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
          c->pos = pos; c->a = k; c->b = min; c->c = 1;
        }
      }
      pos += k;
      goto after_item;
    }
  }

after_item:
  if (ip->look == RXL_AHEAD || ip->look == RXL_NAHEAD) {
    int32_t barrier = static_cast<int32_t>(btop);
    Choice* c = push_choice(CH_BARRIER);
    c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
    c->pos = pos; c->a = ip->look;
    fr = push_frame(FR_LOOK, ip, iend, pl, fr, pos, 0);
    frames[fr].aux = barrier;
    body = ip->body;
    goto enter_body;
  }
  ip++;
  goto next_item;

enter_body: {
  const RxHead* h = rx_head(body);
  if (h->flags & RXF_ALTERNATION) {
    Choice* c = push_choice(CH_ALT);
    c->fr = fr; c->ftop = static_cast<int32_t>(ftop); c->pos = pos; c->a = 1; c->d = body;
    h = rx_head(rx_alt(const_cast<RxHead*>(h), 0));
  }
  ip = rx_items(const_cast<RxHead*>(h));
  iend = ip + h->count;
  pl = rx_pool(const_cast<RxHead*>(h));
  goto next_item;
}

end_of_body: {
  const Frame f = frames[fr];
  switch (f.kind) {
    case FR_TOP:
      *end = pos;
      return true;
    case FR_GROUP: {
      ip = f.item;
      iend = f.iend;
      pl = f.pool;
      fr = f.parent;
      if (ip->kind == RX_GROUP) {
        int32_t slot = ip->text;
        Choice* c = push_choice(CH_UNDO);
        c->a = slot; c->b = cap_start[slot]; c->c = cap_end[slot];
        cap_start[slot] = f.start;
        cap_end[slot] = pos;
        goto after_item;
      }
      int32_t count = f.count + 1;
      int32_t min = ip->quant ? ip->min : 1;
      int32_t max = ip->quant ? (ip->max == RXQ_UNLIMITED ? 0x7FFFFFFF : ip->max) : 1;
      // An empty iteration beyond the minimum is refused (it would loop for ever); the
      // iterations up to the minimum may be empty.
      if (pos == f.start && f.count >= min) goto fail;
      if (count >= max) goto after_item;
      if (count >= min) {
        Choice* c = push_choice((ip->quant & RXQ_LAZY) ? CH_GROUP_ENTER : CH_GROUP_EXIT);
        c->ip = ip; c->iend = iend; c->pool = pl; c->fr = fr; c->ftop = static_cast<int32_t>(ftop);
        c->pos = pos; c->a = count;
        if (ip->quant & RXQ_LAZY) goto after_item;
      }
      fr = push_frame(FR_GROUP, ip, iend, pl, fr, pos, count);
      body = ip->body;
      goto enter_body;
    }
    default: {  // FR_LOOK
      uint8_t look = f.item->look;
      if ((look == RXL_BEHIND || look == RXL_NBEHIND) && pos != f.start) goto fail;
      btop = static_cast<uint32_t>(f.aux);  // the body's choices and the barrier go
      if (look == RXL_NAHEAD || look == RXL_NBEHIND) goto fail;
      ftop = static_cast<uint32_t>(fr);
      ip = f.item;
      iend = f.iend;
      pl = f.pool;
      fr = f.parent;
      pos = f.start;
      if (look == RXL_BEHIND) goto item_body;
      ip++;
      goto next_item;
    }
  }
}

fail:
  for (;;) {
    if (btop == 0) return false;
    if (++steps > step_limit)
      raise_eval_error(RX_ERR_STEPS, "正規表現の照合が複雑すぎます (%ld ステップ超過)", step_limit);
    Choice* c = &stack[btop - 1];
    switch (c->kind) {
      case CH_UNDO:
        cap_start[c->a] = c->b;
        cap_end[c->a] = c->c;
        btop--;
        continue;
      case CH_GREEDY: {
        int32_t k = c->a - 1;
        ip = c->ip; iend = c->iend; pl = c->pool; fr = c->fr; ftop = static_cast<uint32_t>(c->ftop);
        if (ip->kind != RX_BACKREF && !ip->look) {
          int32_t lit = next_literal(ip, iend, pl);
          if (lit >= 0) k = fit_literal(ip, pl, c->pos, k, c->b, lit);
        }
        if (k < c->b) {
          btop--;
          continue;
        }
        pos = c->pos + k * c->c;
        if (k == c->b) btop--; else c->a = k;
        goto after_item;
      }
      case CH_LAZY: {
        int32_t k = c->a;
        int32_t q = c->pos + k * c->c;
        ip = c->ip;
        bool ok = ip->kind == RX_BACKREF ? backref_at(static_cast<int32_t>(ip->name), q, c->c)
                                         : q < L && unit_ok(ip, c->pool, unit_at(q));
        if (!ok) {
          btop--;
          continue;
        }
        k++;
        iend = c->iend; pl = c->pool; fr = c->fr; ftop = static_cast<uint32_t>(c->ftop);
        pos = q + c->c;
        if (k >= c->b) btop--; else c->a = k;
        goto after_item;
      }
      case CH_GROUP_EXIT:
        ip = c->ip; iend = c->iend; pl = c->pool; fr = c->fr; ftop = static_cast<uint32_t>(c->ftop);
        pos = c->pos;
        btop--;
        goto after_item;
      case CH_GROUP_ENTER: {
        ip = c->ip; iend = c->iend; pl = c->pool; fr = c->fr; ftop = static_cast<uint32_t>(c->ftop);
        pos = c->pos;
        int32_t count = c->a;
        btop--;
        fr = push_frame(FR_GROUP, ip, iend, pl, fr, pos, count);
        body = ip->body;
        goto enter_body;
      }
      case CH_ALT: {
        const RxHead* h = rx_head(c->d);
        int k = c->a;
        fr = c->fr; ftop = static_cast<uint32_t>(c->ftop); pos = c->pos;
        if (k + 1 >= h->count) btop--; else c->a = k + 1;
        h = rx_head(rx_alt(const_cast<RxHead*>(h), k));
        ip = rx_items(const_cast<RxHead*>(h));
        iend = ip + h->count;
        pl = rx_pool(const_cast<RxHead*>(h));
        goto next_item;
      }
      case CH_BARRIER: {
        uint8_t look = static_cast<uint8_t>(c->a);
        ip = c->ip; iend = c->iend; pl = c->pool; fr = c->fr; ftop = static_cast<uint32_t>(c->ftop);
        pos = c->pos;
        btop--;
        if (look == RXL_AHEAD || look == RXL_BEHIND) continue;  // the assertion fails
        if (look == RXL_NBEHIND) goto item_body;
        ip++;
        goto next_item;
      }
      default: {  // CH_BEHIND_NEXT
        int32_t t = c->a - 1;
        fr = c->fr; ftop = static_cast<uint32_t>(c->ftop);
        if (t <= c->b) btop--; else c->a = t;
        pos = t;
        body = frames[fr].item->body;
        goto enter_body;
      }
    }
  }
}

// Could a sequence start matching at q? A quick test on its first item.
inline bool may_start(const SeqView& v, int32_t q) {
  const RxItem* first = v.items;
  if (first->look || (first->quant && first->min == 0)) return true;
  switch (first->kind) {
    case RX_RUN: case RX_UNIT:
      return q < L && unit_at(q) == v.pool[first->text];
    case RX_CLASS: case RX_NCLASS: case RX_WORD: case RX_NWORD: case RX_DIGIT: case RX_NDIGIT:
    case RX_SPACE: case RX_NSPACE: case RX_DOT: case RX_ANY:
      return q < L && unit_ok(first, v.pool, unit_at(q));
    case RX_BOL:
      return assertion_ok(RX_BOL, q);
    default:
      return true;
  }
}

void prepare_captures(DW re) {
  uint32_t n = rx_slot_end(re);
  if (n > cap_size) {
    int32_t* a = static_cast<int32_t*>(std::realloc(cap_start, n * sizeof(int32_t)));
    if (!a) raise_eval_error(1400, "メモリ領域を取得できません");
    cap_start = a;
    int32_t* b = static_cast<int32_t*>(std::realloc(cap_end, n * sizeof(int32_t)));
    if (!b) raise_eval_error(1400, "メモリ領域を取得できません");
    cap_end = b;
    cap_size = n;
  }
  for (uint32_t k = 0; k < n; k++) cap_start[k] = cap_end[k] = -1;
}

void record(const SeqView& v, int32_t s, int32_t e) {
  rx_last.start = s;
  rx_last.end = e;
  rx_last.seq = v.seq;
  rx_last.groups = v.iend->cls;  // the sentinel
  rx_last.span[0] = s;
  rx_last.span[1] = e;
  for (const RxItem* it = v.items; it < v.iend; it++) {
    if (it->kind != RX_GROUP) continue;
    int g = it->cls;
    rx_last.span[2 * g] = cap_start[it->text];
    rx_last.span[2 * g + 1] = cap_end[it->text];
  }
}

// The alternatives of a search; containers with many alternatives use the heap.
LARGE_STATIC SeqView view_local[8];
SeqView* view_heap;
uint32_t view_heap_cap;

}  // namespace

int32_t regexp_search(const uint16_t* subject16, int32_t length, int32_t start, DW re,
                      int32_t* match_start, uint8_t flags) {
  if (start < 0) start = 0;
  if (start >= length || dw_type(re) != T_REGEXP) return -1;
  RxHead* h = rx_head(re);
  if (h->count == 0) return -1;
  S = subject16;
  L = length;
  icase = h->flags & RXF_IGNORECASE;
  multiline = h->flags & RXF_MULTILINE;
  dotall = h->flags & RXF_DOTALL;
  steps = 0;
  step_limit = rx_step_limit + 64L * length;
  prepare_captures(re);

  const bool alt = h->flags & RXF_ALTERNATION;
  const uint32_t n = alt ? h->count : 1;
  SeqView* views = view_local;
  if (n > 8) {
    if (n > view_heap_cap) {
      SeqView* p = static_cast<SeqView*>(std::realloc(view_heap, n * sizeof(SeqView)));
      if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
      view_heap = p;
      view_heap_cap = n;
    }
    views = view_heap;
  }
  for (uint32_t k = 0; k < n; k++) {
    DW seq = alt ? rx_alt(h, static_cast<int>(k)) : re;
    RxHead* sh = rx_head(seq);
    views[k].seq = seq;
    views[k].items = rx_items(sh);
    views[k].iend = views[k].items + sh->count;
    views[k].pool = rx_pool(sh);
  }
  uint16_t map[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t filter = rx_start_filter(re, map);
  const bool useMap = !(filter & (RXS_EMPTY | RXS_UNKNOWN));
  const bool nonAscii = filter & RXS_NONASCII;
  // Only one place to try: sticky, or a sequence that starts with ^ outside multiline mode.
  const bool once = (flags & RXF_STICKY) ||
                    (n == 1 && views[0].items->kind == RX_BOL && !views[0].items->look && !multiline);

  for (int32_t p = start; p <= length; p++) {
    if (useMap && !once) {
      while (p < length) {
        unsigned u = S[p];
        if (u < 128 ? (map[u >> 4] >> (u & 15)) & 1 : nonAscii) break;
        p++;
      }
      if (p >= length) break;
    }
    for (uint32_t k = 0; k < n; k++) {
      if (!may_start(views[k], p)) continue;
      int32_t e;
      if (run(views[k], p, &e)) {
        record(views[k], p, e);
        *match_start = p;
        return e;
      }
    }
    if (once) break;
  }
  return -1;
}

int regexp_group_count(DW seq) {
  RxHead* h = rx_head(seq);
  if (h->flags & RXF_ALTERNATION) return 0;
  return rx_items(h)[h->count].cls;
}

int regexp_group_by_name(DW seq, uint32_t name) {
  RxHead* h = rx_head(seq);
  if (h->flags & RXF_ALTERNATION || name == 0) return 0;
  const RxItem* it = rx_items(h);
  for (int k = 0; k < h->count; k++)
    if (it[k].kind == RX_GROUP && (it[k].name & 0x0FFFFFFF) == (name & 0x0FFFFFFF)) return it[k].cls;
  return 0;
}

uint32_t regexp_group_name(DW seq, int group) {
  RxHead* h = rx_head(seq);
  if (h->flags & RXF_ALTERNATION) return 0;
  const RxItem* it = rx_items(h);
  for (int k = 0; k < h->count; k++)
    if (it[k].kind == RX_GROUP && it[k].cls == group) return it[k].name;
  return 0;
}
