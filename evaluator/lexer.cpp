// The token loop, the value buffer with its nesting markers, the structure
// tokens, events and syntax errors, and the entries transcode_input,
// lexer_load_string and transcode.
//
// Value buffer: one heap array of cells for the whole process, outside the
// collected frames, so a cell in it stays put while a loader allocates. A
// scan owns the cells from its state's head to its tail; positions are kept
// as indexes, so growing the array (only in lexer_alloc_cell) moves nothing
// a state holds. A nesting marker is a triple! cell: (cells from the previous
// level start to the marker, the level's datatype, byte offset of the opening).
//
// Input: the bytes a state reads are never inside a collected series (see
// lexer.h), so token pointers stay valid across every allocation and callback.
#include "evaluator/lexer.h"

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/text_load.h"
#include "datatypes/triple.h"
#include "datatypes/word.h"
#include "evaluator/lexer_load.h"
#include "evaluator/lexer_tables.h"
#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- state

struct LexerState {
  LexerState* outer;  // the scan this one runs inside (a callback's), or null
  uint32_t head;      // value buffer: first cell of this scan
  uint32_t level;     // first cell of the innermost open level
  uint32_t tail;      // next free cell
  const uint8_t* begin;
  const uint8_t* end;
  const uint8_t* pos;
  const uint8_t* token_start;
  const uint8_t* token_end;
  int32_t line;
  int32_t token_line;  // line of the token's first byte
  int32_t token_type;  // datatype of the last token (0: none)
  int start_state;     // kStateBlank, or kStatePath inside a path
  int32_t level_type;  // datatype of the innermost open level, 0 at the top
  bool new_line;       // a line break among the current token's leading blanks
  bool one_value;
  bool full_scan;
  bool output;
  bool load_raise;  // full scan with output: values are built and errors raised
  bool stopped;     // a malformed token ended the scan quietly
  bool moved;       // the last event's callback moved the input
  bool path_token;  // the last token opened a path
  bool ended;       // the end of input (or a NUL byte) was reached
  LexerCallback* callback;
  uint32_t mask;
  Cell source;  // the input series (none when the text came from C++)
  bool string_source;
  int32_t source_head;  // the source's index at the start (characters or bytes)
  // lexer_char_index's cache: a byte position and its character offset.
  const uint8_t* index_pos;
  int32_t index_chars;
};

LexerState* g_lexer_top = nullptr;  // innermost live scan

// The values the live scans have read, one stretch per scan from its head to
// its tail (the innermost scan's tail is the top): the array's count is unused.
constexpr uint32_t kValueBufferCells = kTinySizes ? 8 : 1000;
constexpr uint32_t kValueBufferMax = 0x7FFFFFF;
HeapArray<Cell, kValueBufferCells> g_values;

uint8_t* g_scratch = nullptr;
uint32_t g_scratch_size = 0;
uint32_t g_scratch_cursor = 0;
constexpr uint32_t kScratchBytes = kTinySizes ? 64 : 100000;

// What system/lexer/exit-states starts with, for the kinds: the names a
// callback gets before the system object exists.
const char* const kDefaultExitStates[kLexExitStateCount] = {
    "eof",     "error!", "block!", "block!",    "paren!",  "paren!", "string!",
    "string!", "map!",   "path!",  "datatype!", "comment", "string!"};

void lexer_gc_mark() {
  for (LexerState* s = g_lexer_top; s; s = s->outer) {
    gc_mark_cells(g_values.items + s->head, g_values.items + s->tail);
    gc_mark_cell(&s->source);
    if (s->callback) s->callback->mark();
  }
}

// MAY ALLOCATE (only the platform heap). The next free cell of [s], unset!,
// with the new-line marker when a line break preceded the token.
Cell* lexer_alloc_cell(LexerState* s) {
  if (s->tail >= g_values.capacity) {
    if (2 * g_values.capacity > kValueBufferMax) raise_error(kErrInternalNoMemory);
    g_values.reserve(size_t(s->tail) + 1);
  }
  Cell* c = &g_values[s->tail++];
  *c = make_cell(kTypeUnset);
  if (s->new_line) c->header |= kFlagNewLine;
  return c;
}

bool is_marker(const Cell* c) { return c->is(kTypeTriple); }

// Unlinks the state on every exit, errors included.
class StateLink {
 public:
  explicit StateLink(LexerState* s) : s_(s) {
    s->outer = g_lexer_top;
    g_lexer_top = s;
  }
  ~StateLink() { g_lexer_top = s_->outer; }
  StateLink(const StateLink&) = delete;
  StateLink& operator=(const StateLink&) = delete;

 private:
  LexerState* s_;
};

// ---------------------------------------------------------------- positions

// The character offset of byte [p] from the input's start, counted on from
// the last position asked for.
int32_t lexer_char_index(LexerState* s, const uint8_t* p) {
  if (!s->string_source) return int32_t(p - s->begin);
  if (p < s->index_pos) {
    s->index_pos = s->begin;
    s->index_chars = 0;
  }
  s->index_chars += utf8_count_chars(s->index_pos, p);
  s->index_pos = p;
  return s->index_chars;
}

// The byte position of character offset [n] (clamped to the input).
const uint8_t* lexer_byte_at(LexerState* s, int32_t n) {
  if (n <= 0) return s->begin;
  if (!s->string_source) return n >= s->end - s->begin ? s->end : s->begin + n;
  return utf8_skip_chars(s->begin, s->end, n);
}

int32_t line_of_offset(const LexerState* s, const uint8_t* p) {
  int32_t line = 1;
  for (const uint8_t* q = s->begin; q < p && q < s->end; q++) line += *q == '\n';
  return line;
}

// ---------------------------------------------------------------- events

// MAY ALLOCATE. The type argument of an event: a datatype!, none!, or for a
// negative [type] (minus kind minus 1) the kind's exit-state name.
Cell event_type_cell(int32_t type) {
  if (type > 0) return datatype_cell(TypeId(type));
  if (type == 0) return kNoneCell;
  int kind = -type - 1;
  if (kind >= kLexExitStateCount) return kNoneCell;
  {
    // The entry system/lexer/exit-states holds for the kind, as it is.
    StackSave save;
    Cell* states = push_system_value({"lexer", "exit-states"});
    if (states->is(kTypeBlock)) {
      int32_t at = states->head() + kind;
      return at < series_total_cells(states) ? series_cells(states->node())[at] : kNoneCell;
    }
  }
  // Before the system object is made: the runtime's own names.
  const char* name = kDefaultExitStates[kind];
  size_t n = std::strlen(name);
  if (n > 1 && name[n - 1] == '!') {
    for (int t = 1; t <= g_max_type_id; t++)
      if (std::strcmp(type_name(TypeId(t)), name) == 0) return datatype_cell(TypeId(t));
  }
  return load_word(name);
}

// MAY ALLOCATE, MAY RUN KIV CODE. Sends [event] when the callback wants it
// (true otherwise). [at] is the input position shown; [loaded] the value of a
// load event. A callback that moved the input's index moves the scan.
bool lexer_event(LexerState* s, LexEvent event, int32_t type, const Cell* loaded, const uint8_t* at) {
  if (!s->callback || !(s->mask & event)) return true;
  StackSave save;
  Cell* input = stack_push_value(s->source);
  int32_t index = s->source_head + lexer_char_index(s, at);
  if (!s->source.is(kTypeNone)) input->set_head(index);
  Cell* type_cell = stack_push();
  *type_cell = event_type_cell(type);
  Cell* token = stack_push();
  if (loaded) {
    *token = *loaded;
  } else {
    int32_t first = s->source_head + lexer_char_index(s, s->token_start) + 1;
    int32_t last = s->source_head + lexer_char_index(s, s->token_end) + 1;
    *token = pair_cell(first, last);
  }
  bool go_on = s->callback->on_event(event, input, type_cell, s->line, token);
  s->moved = false;
  if (!s->source.is(kTypeNone) && input->is(s->source.type()) && input->node() == s->source.node() &&
      input->head() != index) {
    s->moved = true;
    s->pos = lexer_byte_at(s, input->head() - s->source_head);
    if (s->pos < s->token_end) s->token_end = s->pos;
  }
  return go_on;
}

// ---------------------------------------------------------------- errors

// MAY ALLOCATE. The near text: from [from] up to the first LF, the end of
// input or 30 characters; bytes that are no UTF-8 show as U+FFFD.
void near_text(const LexerState* s, const uint8_t* from, Cell* out) {
  string_make_at(out, 32);
  const uint8_t* p = from;
  for (int n = 0; n < 30 && p < s->end && *p != '\n' && *p != 0; n++) {
    int32_t cp;
    p = utf8_fast_decode_char(p, s->end, &cp);
    append_char(out->node(), cp < 0 ? 0xFFFD : uint32_t(cp));
  }
}

// Error details: a datatype id (invalid), or one of these.
enum LexFault : int32_t {
  kFaultBadChar = -1,
  kFaultMalconstruct = -2,
  kFaultMissing = -3,
};

// MAY ALLOCATE, MAY RUN KIV CODE. A malformed token: [detail] is a datatype
// id (`invalid`) or a LexFault; [missing] the closer or opener text of a
// `missing` error. Without the load-and-raise flag the scan stops quietly.
// A callback that does not answer true to the error event raises nothing:
// when it moved the input on, past the token's start, the scan resumes
// there (true); otherwise it stops quietly (false).
bool lexer_error(LexerState* s, int32_t detail, const char* missing, const uint8_t* near, int32_t line) {
  // The type the error event reports: the detail's, the open level's, the
  // token's, else error!.
  int32_t type = detail > 0          ? detail
                 : s->level_type > 0 ? s->level_type
                 : s->token_type > 0 ? s->token_type
                                     : kTypeError;
  s->token_type = kTypeError;
  if (!s->load_raise) {
    s->stopped = true;
    return false;
  }
  if (s->callback && (s->mask & kLexEventError)) {
    if (!lexer_event(s, kLexEventError, type, nullptr, s->token_start)) {
      if (s->moved && s->pos > s->token_start) {
        s->token_end = s->pos;
        s->start_state = kStateBlank;
        return true;
      }
      s->stopped = true;
      return false;
    }
  }
  StackSave save;
  Cell* position = string_make_at(stack_push(), 16);
  string_append_c_string(position, "(line " + std::to_string(line) + ")");
  Cell* near_cell = stack_push();
  near_text(s, near, near_cell);
  Cell* arg = stack_push();
  switch (detail) {
    case kFaultBadChar: raise_error(kErrSyntaxBadChar, position, near_cell);
    case kFaultMalconstruct: raise_error(kErrSyntaxMalconstruct, position, near_cell);
    case kFaultMissing:
      string_make_at(arg, 2);
      string_append_c_string(arg, missing);
      raise_error(kErrSyntaxMissing, position, arg, near_cell);
    default: *arg = datatype_cell(TypeId(detail)); raise_error(kErrSyntaxInvalid, position, arg, near_cell);
  }
}

bool token_error(LexerState* s, int32_t detail) {
  return lexer_error(s, detail, "", s->token_start, s->token_line);
}

// The byte offset where the innermost open level began.
const uint8_t* level_opening(const LexerState* s) {
  if (s->level == s->head) return s->token_start;
  const Cell* marker = &g_values[s->level - 1];
  return s->begin + triple_third(marker);
}

// ---------------------------------------------------------------- nesting

const char* closer_of(int32_t type) {
  return type == kTypeParen ? ")" : type == kTypeBlock || type == kTypeMap ? "]" : "";
}

bool is_path_type(int32_t t) { return t >= kTypePath && t <= kTypeGetPath; }

// MAY ALLOCATE, MAY RUN KIV CODE (open event). Opens a level of [type] whose
// text starts at [opening]. False when the event skipped it.
bool lexer_open_nest(LexerState* s, int32_t type, const uint8_t* opening) {
  if (!lexer_event(s, kLexEventOpen, type, nullptr, opening)) return false;
  Cell* marker = lexer_alloc_cell(s);
  uint32_t flags = marker->header & kFlagNewLine;
  *marker = triple_cell(int32_t(s->tail - 1 - s->level), type, int32_t(opening - s->begin));
  marker->header |= flags;
  s->level = s->tail;
  s->level_type = type;
  s->start_state = kStateBlank;
  return true;
}

// MAY ALLOCATE. Turns the cells of the innermost level into one value of
// [type] written over its marker, and reopens the enclosing level.
bool lexer_close_level(LexerState* s, int32_t type) {
  uint32_t marker_index = s->level - 1;
  uint32_t count = s->tail - s->level;
  if (type == kTypeMap && s->load_raise) {
    if (count % 2) return token_error(s, kTypeMap);
    for (uint32_t i = 0; i < count; i += 2)
      if (!map_valid_key_type_q(g_values[s->level + i].type())) return token_error(s, kTypeMap);
  }
  StackSave save;
  Cell* made = stack_push();
  Node node = series_alloc_cells(count ? count : 1);
  *made = series_cell(kTypeBlock, node);
  if (count)
    std::memcpy(reserve_tail(node, count * uint32_t(sizeof(Cell))), &g_values[s->level],
                count * sizeof(Cell));
  if (type == kTypeMap) {
    map_make_at(made, node, 0);
  } else {
    made->set_header(TypeId(type));
  }
  Cell* marker = &g_values[marker_index];
  int32_t back = triple_first(marker);
  uint32_t new_line = marker->header & kFlagNewLine;
  *marker = *made;
  marker->header |= new_line;
  s->tail = marker_index + 1;
  s->level = marker_index - uint32_t(back);
  s->level_type = s->level == s->head ? 0 : triple_second(&g_values[s->level - 1]);
  s->start_state = is_path_type(s->level_type) ? kStatePath : kStateBlank;
  s->token_type = type;
  return true;
}

// MAY ALLOCATE, MAY RUN KIV CODE. A "]" ([type] block!) or ")" (paren!).
bool lexer_close_nest(LexerState* s, int32_t type) {
  int32_t open = s->level_type;
  if (s->level == s->head)
    return lexer_error(s, kFaultMissing, type == kTypeParen ? "(" : "[", s->token_start, s->token_line);
  if (!lexer_event(s, kLexEventClose, open, nullptr, s->token_start)) {
    s->start_state = kStateBlank;
    return true;
  }
  bool fits = type == kTypeBlock ? open == kTypeBlock || open == kTypeMap : open == kTypeParen;
  if (!fits) {
    const char* need = closer_of(open);
    if (!*need) need = type == kTypeParen ? "(" : "[";
    return lexer_error(s, kFaultMissing, need, s->token_start, s->token_line);
  }
  return lexer_close_level(s, open);
}

// ---------------------------------------------------------------- literal tokens

// MAY ALLOCATE, MAY RUN KIV CODE. A token of kinds 13-35 between [start] and
// [end]: checked, and loaded when the scan asks for it (events included).
bool lexer_literal(LexerState* s, int kind, const uint8_t* start, const uint8_t* end, uint32_t flags,
                   int32_t type) {
  LexToken token{start, end, flags, kind, type, 0, nullptr};
  Cell scratch = make_cell(kTypeUnset);
  bool load;
  bool fast = s->load_raise && !s->callback;
  if (!fast) {
    if (!lexer_load_token(token, false, &scratch)) {
      s->token_type = token.type;
      return lexer_error(s, token.fault < 0 ? token.fault : token.type, "", s->token_start, s->token_line);
    }
    if (token.resume) s->pos = s->token_end = token.resume;
    s->token_type = token.type;
    if (!s->callback) {
      load = !(s->one_value && !s->load_raise);
    } else if (s->mask & kLexEventScan) {
      load = lexer_event(s, kLexEventScan, token.type, nullptr, s->token_end);
      if (!load) return false;
    } else {
      load = true;
    }
    token = LexToken{start, token.resume ? token.resume : end, flags, kind, type, 0, nullptr};
  } else {
    load = true;
  }
  if (!load) return true;
  uint32_t index = s->tail;
  Cell* out = lexer_alloc_cell(s);
  if (!lexer_load_token(token, true, out)) {
    s->tail = index;
    s->token_type = token.type;
    return lexer_error(s, token.fault < 0 ? token.fault : token.type, "", s->token_start, s->token_line);
  }
  if (token.resume) s->pos = s->token_end = token.resume;
  s->token_type = token.type;
  if (s->callback && (s->mask & kLexEventLoad)) {
    Root loaded(g_values[index]);
    if (!lexer_event(s, kLexEventLoad, loaded->type(), loaded.get(), s->token_end)) s->tail = index;
  }
  return true;
}

// ---------------------------------------------------------------- structure handlers

// Flags of the bytes from [p] to [end].
uint32_t flags_of(const uint8_t* p, const uint8_t* end) {
  uint32_t flags = 0;
  for (; p < end; p++) flags |= kLexClasses[*p] & ~0xFFu;
  return flags;
}

bool delimiter_byte(const uint8_t* p, const uint8_t* end) {
  if (p >= end) return true;
  switch (kLexClasses[*p] & 0xFF) {
    case kClassBlank:
    case kClassLf:
    case kClassBracketOpen:
    case kClassBracketClose:
    case kClassParenOpen:
    case kClassParenClose:
    case kClassBraceOpen:
    case kClassBraceClose:
    case kClassDoubleQuote:
    case kClassComma:
    case kClassSemicolon:
    case kClassNul: return true;
    default: return false;
  }
}

// True when no path element can start at [p]: the end, a blank, a "/" or a
// delimiter other than "(" and a double quote.
bool no_element_at(const uint8_t* p, const uint8_t* end) {
  if (p >= end || *p == '/') return true;
  return delimiter_byte(p, end) && *p != '(' && *p != '"';
}

// MAY ALLOCATE, MAY RUN KIV CODE. A "{": the braced string up to its
// matching "}" (nested braces balanced, "^" escaping the next byte), loaded
// as a string!; open and close events go out for the outer braces.
bool lexer_braced_string(LexerState* s) {
  const uint8_t* open = s->token_start;
  if (!lexer_event(s, kLexEventOpen, kTypeString, nullptr, open)) {
    s->pos = s->token_end;
    return true;
  }
  int depth = 1;
  int32_t lines = 0;
  const uint8_t* p = s->token_end;
  while (p < s->end) {
    uint8_t c = *p;
    if (c == '^') {
      p += p + 1 < s->end ? 2 : 1;
      continue;
    }
    if (c == '{') depth++;
    if (c == '}' && --depth == 0) break;
    if (c == '\n') lines++;
    if ((kLexClasses[c] & 0xFF) == kClassInvalid) {
      s->line += lines;
      return token_error(s, kTypeString);
    }
    p++;
  }
  if (depth) {
    s->line += lines;
    s->token_type = kTypeString;
    return lexer_error(s, kFaultMissing, "}", open, s->token_line);
  }
  s->token_end = s->pos = p + 1;
  s->line += lines;
  if (!lexer_literal(s, kKindString, open, p + 1, flags_of(open, p + 1), kTypeString)) return false;
  lexer_event(s, kLexEventClose, kTypeString, nullptr, p);
  return true;
}

// MAY ALLOCATE, MAY RUN KIV CODE. "%{" (or n "%" then "{"): the raw string
// runs to the first "}" followed by exactly n "%".
bool lexer_raw_string(LexerState* s) {
  const uint8_t* start = s->token_start;
  ptrdiff_t n = s->token_end - start;  // the percent signs
  const uint8_t* p = s->token_end + 1;
  int32_t lines = 0;
  const uint8_t* close = nullptr;
  for (; p < s->end; p++) {
    if (*p == '\n') lines++;
    if (*p != '}') continue;
    ptrdiff_t k = 0;
    while (p + 1 + k < s->end && p[1 + k] == '%') k++;
    if (k == n) {
      close = p + 1 + k;
      break;
    }
    if (k > n) break;
  }
  s->line += lines;
  if (!close) return token_error(s, kTypeString);
  s->token_end = s->pos = close;
  if (s->callback && !s->load_raise) lexer_event(s, kLexEventOpen, kTypeString, nullptr, start);
  bool ok = lexer_literal(s, kKindRawString, start, close, flags_of(start, close), kTypeString);
  if (ok && s->callback && !s->load_raise) lexer_event(s, kLexEventClose, kTypeString, nullptr, close);
  return ok;
}

// True when the text after "(" at [p] is the start of a point literal: at
// least 3 more bytes, and the run of number characters stops at a ",".
bool point_syntax_check(const uint8_t* p, const uint8_t* end) {
  if (end - p < 3) return false;
  for (; p < end; p++) {
    uint8_t c = *p;
    if (c == ',') return true;
    bool number =
        (c >= '0' && c <= '9') || c == '\t' || c == ' ' || c == '+' || c == '-' || c == '.' || c == '#';
    switch (c | 0x20) {
      case 'a':
      case 'e':
      case 'f':
      case 'i':
      case 'n': number = true; break;
      default: break;
    }
    if (!number) return false;
  }
  return false;
}

// MAY ALLOCATE, MAY RUN KIV CODE. A "(": a point literal up to its ")", or a paren level.
bool lexer_paren_open(LexerState* s) {
  if (point_syntax_check(s->token_end, s->end)) {
    const uint8_t* p = s->token_end;
    while (p < s->end && *p != ')' && *p != '\n') p++;
    if (p >= s->end || *p != ')') return token_error(s, kTypePoint2D);
    s->token_end = s->pos = p + 1;
    return lexer_literal(s, kKindPoint, s->token_start, p + 1, flags_of(s->token_start, p + 1), kTypePoint2D);
  }
  if (!lexer_open_nest(s, kTypeParen, s->token_start)) s->start_state = kStateBlank;
  return true;
}

// MAY ALLOCATE. "#(" name ")": logic!, none!, unset! or a datatype!.
bool lexer_construct(LexerState* s) {
  const uint8_t* name = s->token_start + 2;
  const uint8_t* end = s->token_end;
  if (end <= name || end[-1] != ')') return token_error(s, kFaultMalconstruct);
  end--;
  size_t n = size_t(end - name);
  auto same = [&](const char* text) {
    if (std::strlen(text) != n) return false;
    for (size_t i = 0; i < n; i++) {
      uint8_t a = name[i], b = uint8_t(text[i]);
      if (a >= 'A' && a <= 'Z') a = uint8_t(a + 32);
      if (b >= 'A' && b <= 'Z') b = uint8_t(b + 32);
      if (a != b) return false;
    }
    return true;
  };
  Cell value;
  if (same("true")) {
    value = logic_cell(true);
  } else if (same("false")) {
    value = logic_cell(false);
  } else if (same("none")) {
    value = kNoneCell;
  } else if (same("unset")) {
    value = make_cell(kTypeUnset);
  } else {
    int t = 1;
    while (t <= g_max_type_id && !same(type_name(TypeId(t)))) t++;
    if (t > g_max_type_id) return token_error(s, kFaultMalconstruct);
    value = datatype_cell(TypeId(t));
  }
  s->token_type = value.type();
  if (!s->load_raise && s->one_value) return true;
  uint32_t index = s->tail;
  Cell* out = lexer_alloc_cell(s);
  uint32_t flags = out->header & kFlagNewLine;
  *out = value;
  out->header |= flags;
  if (s->callback && (s->mask & kLexEventLoad)) {
    Root loaded(g_values[index]);
    if (!lexer_event(s, kLexEventLoad, loaded->type(), loaded.get(), s->token_end)) s->tail = index;
  }
  return true;
}

// MAY ALLOCATE, MAY RUN KIV CODE. A word followed by "/": opens the path
// level, loads the first element as a word and steps over the "/".
bool lexer_path_start(LexerState* s, uint32_t flags) {
  const uint8_t* start = s->token_start;
  int32_t type = kTypePath;
  if (*start == '\'') type = kTypeLitPath;
  if (*start == ':') type = kTypeGetPath;
  if (!lexer_open_nest(s, type, start)) return true;
  const uint8_t* word = type == kTypePath ? start : start + 1;
  if (!lexer_literal(s, kKindWord, word, s->token_end, flags_of(word, s->token_end), kTypeWord)) return false;
  if (s->tail > s->level && !g_values[s->tail - 1].is(kTypeWord))
    return lexer_error(s, kTypePath, "", start, s->token_line);
  s->pos = s->token_end + 1;  // the "/"
  s->start_state = kStatePath;
  s->path_token = true;
  if (no_element_at(s->pos, s->end)) return lexer_error(s, kTypePath, "", start, s->token_line);
  return true;
}

// MAY ALLOCATE, MAY RUN KIV CODE. After a path element: "/" goes on, ":"
// closes the path as a set-path!, anything else closes it as it is.
bool lexer_path_next(LexerState* s) {
  const uint8_t* opening = level_opening(s);
  const uint8_t* p = s->pos;
  if (p < s->end && *p == '/') {
    s->pos = p + 1;
    if (no_element_at(s->pos, s->end)) return lexer_error(s, kTypePath, "", opening, s->token_line);
    return true;
  }
  int32_t type = s->level_type;
  if (p < s->end && *p == ':') {
    if (type != kTypePath || (p + 1 < s->end && p[1] == '/'))
      return lexer_error(s, kTypePath, "", opening, s->token_line);
    s->pos = p + 1;
    type = kTypeSetPath;
  }
  if (!lexer_event(s, kLexEventClose, s->level_type, nullptr, s->pos)) return true;
  return lexer_close_level(s, type);
}

// ---------------------------------------------------------------- the token loop

// One token from s->pos: sets token_start, token_end, the line fields and
// returns the kind; *[flags] gets its character flags, *[last] the state it
// ended in (for the error detail).
int lexer_next_token(LexerState* s, uint32_t* flags_out, int* last_out) {
  const uint8_t* p = s->pos;
  const uint8_t* end = s->end;
  int state = s->start_state;
  uint32_t flags = 0;
  s->new_line = false;
  s->token_start = p;
  int next;
  for (;;) {
    uint32_t entry;
    int cls;
    int length = 1;
    if (p < end) {
      entry = kLexClasses[*p];
      cls = int(entry & 0xFF);
      if (cls == kClassLetter && *p >= 0xC2 && lexer_unicode_blank(p, end, &length)) cls = kClassBlank;
    } else {
      entry = kLexClasses[0];
      cls = kClassNul;
    }
    next = g_lex_transitions[state][cls];
    if (next >= kLexFinal) {
      // A final transition before any byte of the token consumes its byte.
      if (p == s->token_start && cls != kClassNul && state == s->start_state) p += length;
      break;
    }
    if (next == kStateBlank) {
      flags = 0;
      if (cls == kClassLf) s->new_line = true;
      s->token_start = p + length;
    } else {
      flags |= entry & ~0xFFu;
    }
    if (cls == kClassLf) s->line++;
    if (next == kStateBlank) s->token_line = s->line;
    state = next;
    p += length;
  }
  *flags_out = flags;
  *last_out = state;
  s->token_end = p;
  s->pos = p;
  return next - kLexFinal;
}

// True when the scan of [s] holds exactly one complete value, or nothing.
bool one_value_done(const LexerState* s) {
  uint32_t n = s->tail - s->head;
  return n == 0 || (n == 1 && !is_marker(&g_values[s->head]));
}

// MAY ALLOCATE, MAY RUN KIV CODE. The token loop. Returns when the input
// ends, a one-value or prescan scan has its value, or a malformed token
// stopped it quietly.
void lexer_scan(LexerState* s) {
  for (;;) {
    uint32_t flags;
    int last;
    s->token_line = s->line;
    s->path_token = false;
    int kind = lexer_next_token(s, &flags, &last);
    int32_t type = kind == kKindError ? g_lex_state_types[last] : kLexKindTypes[kind];
    s->token_type = type;
    if (kind == kKindEnd) {
      s->pos = s->token_start;
      s->ended = true;
      return;
    }
    bool inside_path = s->start_state == kStatePath;
    // Prescan mode and the callback's prescan event.
    bool go_on = true;
    if (s->callback) {
      go_on = lexer_event(s, kLexEventPrescan, type ? type : -kind - 1, nullptr,
                          type ? s->token_end : s->token_start);
    } else if (!s->full_scan) {
      go_on = kind <= kKindString;
    }
    if (s->stopped) return;
    if (go_on) {
      bool ok = true;
      switch (kind) {
        case kKindError:
          ok = lexer_error(s, type ? type : int32_t(kFaultBadChar), "",
                           inside_path ? level_opening(s) : s->token_start, s->token_line);
          break;
        case kKindBlockOpen:
          if (!lexer_open_nest(s, kTypeBlock, s->token_start)) s->start_state = kStateBlank;
          break;
        case kKindMapOpen:
          if (!lexer_open_nest(s, kTypeMap, s->token_start)) s->start_state = kStateBlank;
          break;
        case kKindParenOpen: ok = lexer_paren_open(s); break;
        case kKindBlockClose: ok = lexer_close_nest(s, kTypeBlock); break;
        case kKindParenClose: ok = lexer_close_nest(s, kTypeParen); break;
        case kKindBraceOpen: ok = lexer_braced_string(s); break;
        case kKindBraceClose: ok = token_error(s, kFaultBadChar); break;
        case kKindPathStart: ok = lexer_path_start(s, flags); break;
        case kKindConstruct: ok = lexer_construct(s); break;
        case kKindComment: break;
        case kKindComma: ok = token_error(s, kTypePoint2D); break;
        case kKindRawString: ok = lexer_raw_string(s); break;
        default:
          if (s->full_scan) ok = lexer_literal(s, kind, s->token_start, s->token_end, flags, type);
          break;
      }
      if (!ok || s->stopped) return;
      // Path continuation after an element.
      if (s->start_state == kStatePath && !s->path_token && kind != kKindError &&
          (inside_path || kind == kKindParenClose)) {
        if (!lexer_path_next(s) || s->stopped) return;
      }
    }
    if ((s->one_value || !s->full_scan) && s->token_type && s->token_type != kTypeError &&
        s->start_state != kStatePath && !s->path_token && one_value_done(s))
      return;
  }
}

// MAY ALLOCATE. At the end of input: an open block, paren or map is missing
// its closer; a path is closed. False when the scan stopped quietly.
bool lexer_close_all(LexerState* s) {
  while (s->level > s->head) {
    if (is_path_type(s->level_type)) {
      if (!lexer_close_level(s, s->level_type)) return false;
      continue;
    }
    const uint8_t* opening = level_opening(s);
    return lexer_error(s, kFaultMissing, closer_of(s->level_type), opening, line_of_offset(s, opening));
  }
  return true;
}

// MAY ALLOCATE. The [count] cells from [first] as a new block! in *[out], or
// appended to [target].
void lexer_make_series(Cell* out, uint32_t first, uint32_t count, Cell* target) {
  if (target) {
    for (uint32_t i = 0; i < count; i++) block_append_value(target, &g_values[first + i]);
    *out = *target;
    return;
  }
  Node node = series_alloc_cells(count ? count : 1);
  *out = series_cell(kTypeBlock, node);
  if (count)
    std::memcpy(reserve_tail(node, count * uint32_t(sizeof(Cell))), &g_values[first], count * sizeof(Cell));
}

}  // namespace

const char* lexer_event_name(LexEvent event) {
  switch (event) {
    case kLexEventPrescan: return "prescan";
    case kLexEventScan: return "scan";
    case kLexEventLoad: return "load";
    case kLexEventOpen: return "open";
    case kLexEventClose: return "close";
    case kLexEventError: return "error";
    default: return "";
  }
}

int32_t transcode_input(Cell* out, const TranscodeRequest& request, uint32_t* consumed) {
  LexerState state{};
  LexerState* s = &state;
  uint32_t start = g_lexer_top ? g_lexer_top->tail : 0;
  s->head = s->level = s->tail = start;
  s->begin = s->pos = s->token_start = s->token_end = request.input;
  s->end = request.input + request.length;
  s->line = 1;
  s->one_value = request.one_value;
  s->full_scan = request.full_scan;
  s->output = request.output;
  s->load_raise = request.full_scan && request.output;
  s->callback = request.callback;
  s->mask = request.callback ? request.callback->event_mask() : 0;
  s->source = request.source ? *request.source : kNoneCell;
  s->source.clear_new_line();
  s->string_source = request.source && is_any_string(request.source->type());
  s->source_head = request.source ? request.source->head() : 0;
  if (s->source_head < 0) s->source_head = 0;
  s->index_pos = s->begin;
  StateLink link(s);

  lexer_scan(s);
  bool closed = true;
  if (!s->stopped && s->ended) closed = lexer_close_all(s);
  int32_t result = s->token_type;
  if (!s->full_scan && s->level > s->head && is_path_type(s->level_type)) result = s->level_type;
  if (consumed) *consumed = uint32_t(lexer_char_index(s, s->pos));
  if (request.output && out) {
    bool open_level = s->level > s->head || !closed;
    if (open_level) {
      *out = kNoneCell;
    } else if (s->one_value && !request.block_result && s->tail > s->head) {
      if (request.target) {
        block_append_value(request.target, &g_values[s->head]);
        *out = *request.target;
      } else {
        *out = g_values[s->head];
        out->clear_new_line();
      }
    } else {
      lexer_make_series(out, s->head, s->tail - s->head, request.target);
    }
  }
  return result;
}

int32_t lexer_load_string(Cell* out, const Cell* str, int32_t length, TranscodeRequest request,
                          uint32_t* consumed) {
  Cell text = *str;
  int32_t available = string_length(&text);
  if (length < 0 || length > available) length = available;
  SeriesBuffer* b = series_buffer(text.node());
  uint32_t unit = b->unit();
  const uint8_t* from = b->head_ptr() + size_t(string_head_index(&text)) * unit;
  uint64_t size = utf8_size_of_chars(from, from + size_t(length) * unit, unit);
  if (size > 0x7FFFFFF0u) raise_error(kErrInternalNoMemory);
  // The scratch buffer from its cursor when the exact size fits, else a buffer of that size.
  uint32_t saved_cursor = g_scratch_cursor;
  uint8_t* bytes;
  bool own = size + 1 > uint64_t(g_scratch_size - g_scratch_cursor);
  if (own) {
    bytes = static_cast<uint8_t*>(heap_alloc(size_t(size) + 1));
  } else {
    bytes = g_scratch + g_scratch_cursor;
    g_scratch_cursor += uint32_t(size) + 1;
  }
  struct Release {
    uint8_t* bytes;
    bool own;
    uint32_t cursor;
    ~Release() {
      if (own) heap_free(bytes);
      g_scratch_cursor = cursor;
    }
  } release{bytes, own, saved_cursor};
  uint32_t n = to_utf8_into(&text, bytes, length, false);
  request.input = bytes;
  request.length = n;
  Root source(text);
  request.source = source.get();
  return transcode_input(out, request, consumed);
}

Cell* lexer_load_utf8(Cell* out, const uint8_t* text, uint32_t length) {
  TranscodeRequest request;
  request.input = text;
  request.length = length;
  transcode_input(out, request);
  return out;
}

Cell* lexer_push_utf8(std::string_view text) {
  return lexer_load_utf8(stack_push(), reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
}

Cell* transcode(Cell* out, const Cell* source, const TranscodeArgs& args) {
  TypeId t = source->type();
  bool binary = t == kTypeBinary;
  if (!binary && !is_any_string(t)) raise_error(kErrScriptInvalidArg, source);
  Cell src = *source;
  int32_t head = binary ? series_clamp_head(&src, series_total_length(&src)) : string_head_index(&src);
  int32_t available = (binary ? series_total_length(&src) : string_total_length(&src)) - head;
  int32_t length = available;
  if (args.part) {
    if (args.part->is(kTypeInteger)) {
      length = integer_get(args.part);
    } else if (args.part->type() == t) {
      length = args.part->head() - head;
    } else {
      raise_error(kErrScriptNotSameType);
    }
    if (length < 0) length = 0;
    if (length > available) length = available;
  }
  TranscodeRequest request;
  request.one_value = args.next || args.one || args.prescan || args.scan;
  request.full_scan = !args.prescan;
  request.output = !(args.prescan || args.scan);
  request.block_result = !args.one;
  request.callback = args.trace;
  StackSave save;
  Cell* target = nullptr;
  if (args.into) target = stack_push_cell(args.into);
  request.target = args.next ? nullptr : target;
  Cell* values = stack_push();
  uint32_t consumed = 0;
  int32_t type;
  if (binary) {
    uint8_t* copy = static_cast<uint8_t*>(heap_alloc(size_t(length) + 1));
    struct Free {
      uint8_t* p;
      ~Free() { heap_free(p); }
    } free_copy{copy};
    std::memcpy(copy, series_buffer(src.node())->head_ptr() + head, size_t(length));
    request.input = copy;
    request.length = uint32_t(length);
    Cell* pinned = stack_push_cell(&src);
    pinned->set_head(head);
    request.source = pinned;
    type = transcode_input(values, request, &consumed);
  } else {
    Cell* pinned = stack_push_cell(&src);
    type = lexer_load_string(values, pinned, length, request, &consumed);
  }
  bool typed = args.prescan || args.scan;
  if (typed && !args.next) {
    *out = type ? datatype_cell(TypeId(type)) : kNoneCell;
  } else if (args.next) {
    // With /next the result pairs the value (the type found, when only
    // scanning) with the input after it.
    Cell* pair = block_push_only(2);
    Cell value = kNoneCell;
    if (typed) {
      if (type) value = datatype_cell(TypeId(type));
    } else if (values->is(kTypeBlock) && block_ks_length_q(values) > 0) {
      value = *block_ks_head(values);
    }
    value.clear_new_line();
    block_append_value(pair, &value);
    Cell rest = src;
    rest.set_head(head + int32_t(consumed));
    block_append_value(pair, &rest);
    *out = *pair;
  } else {
    *out = *values;
  }
  return out;
}

void text_load_block_hook(const Cell* str, Cell* out) {
  TranscodeRequest request;
  lexer_load_string(out, str, -1, request);
}

void text_load_one_hook(const Cell* str, Cell* out) {
  TranscodeRequest request;
  request.one_value = true;
  request.block_result = false;
  uint32_t consumed = 0;
  StackSave save;
  Cell* result = stack_push();
  lexer_load_string(result, str, -1, request, &consumed);
  // Anything but blanks after the first value: the text is not one value.
  Cell text = *str;
  int32_t total = string_length(&text), head = string_head_index(&text);
  for (int32_t i = int32_t(consumed); i < total; i++) {
    uint32_t c = string_char_at(&text, uint32_t(head + i));
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      *out = kNoneCell;
      return;
    }
  }
  if (result->is(kTypeBlock) && block_ks_length_q(result) == 0) {
    *out = make_cell(kTypeUnset);
    return;
  }
  *out = *result;
}

void lexer_init() {
  lexer_tables_init();
  if (!g_values.items) {
    g_values.reserve(kValueBufferCells);
    g_scratch = static_cast<uint8_t*>(heap_alloc(kScratchBytes));
    g_scratch_size = kScratchBytes;
    g_scratch_cursor = 0;
    add_mark_callback(lexer_gc_mark);
  }
}

}  // namespace kiv
