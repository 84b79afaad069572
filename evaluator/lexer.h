// The lexer: UTF-8 source text to values.
//
// One table-driven state machine (lexer_tables.cpp) cuts the input into
// tokens; the structure tokens (brackets, parens, maps, paths, braced strings,
// construction literals, comments, commas) are handled here, the literal
// tokens by the loaders of evaluator/lexer_load.h. Scanned values are appended
// to one process-wide value buffer of cells, outside the collected frames, in
// which an open block, paren, map or path is a nesting marker (a triple!
// cell); closing the level turns the cells after the marker into one series
// written over it.
//
// Every running scan has a lexer state, linked into a list whose head is a
// global, so a callback may start a nested scan (its buffer range begins at
// the outer scan's tail) and the collector marks the range, the input series
// and the callback of each live state.
//
// The input bytes a scan reads never live in a collected series: a binary! is
// copied and a string! converted to UTF-8 before the scan starts, so neither
// the collector nor a callback that changes the input can leave the scan
// reading moved memory.
#pragma once

#include <cstdint>
#include <string_view>

#include "evaluator/lexer_load.h"
#include "runtime/cell.h"

namespace kiv {

// Lexer events: the bits of a callback's event mask.
enum LexEvent : uint32_t {
  kLexEventPrescan = 1,
  kLexEventScan = 2,
  kLexEventLoad = 4,
  kLexEventOpen = 8,
  kLexEventClose = 16,
  kLexEventError = 32,
  kLexEventAll = 63,
};
// The event's word: "prescan", "scan", "load", "open", "close" or "error".
const char* lexer_event_name(LexEvent event);

// The receiver of lexer events. The evaluator wraps a function! or routine!
// in one; tests implement it in C++.
class LexerCallback {
 public:
  virtual ~LexerCallback() = default;
  // The events this callback wants (LexEvent bits).
  virtual uint32_t event_mask() const { return kLexEventAll; }
  // MAY ALLOCATE, MAY RUN KIV CODE. One event: [input] is a copy of the input
  // series (a stable cell) with its index at the token (characters for a
  // string!, bytes for a binary!), which the callback may move to make the
  // scan go on from there; [type] a datatype!, none!, or the exit-state word
  // of a token without a datatype; [token] the loaded value for load events,
  // else a pair! of the 1-based start and end offsets. True goes on; false
  // skips (prescan, open, close, load) or stops (scan, error).
  virtual bool on_event(LexEvent event, Cell* input, const Cell* type, int32_t line, const Cell* token) = 0;
  // Marks what the callback keeps (its function value). Never allocates.
  virtual void mark() const {}
};

// What one scan is asked to do (the arguments of transcode_input).
struct TranscodeRequest {
  const uint8_t* input = nullptr;     // UTF-8 bytes, outside any collected series
  uint32_t length = 0;                // bytes
  bool one_value = false;             // stop after the first complete value
  bool full_scan = true;              // false: prescan mode (token shapes only)
  bool output = true;                 // build values; with full_scan, raise syntax errors
  bool block_result = true;           // the values as one block even in one-value mode
  LexerCallback* callback = nullptr;  // events, or null
  const Cell* source = nullptr;       // the string! or binary! scanned (event positions), or null
  Cell* target = nullptr;             // a block (stable cell) to append the values to, or null
};

// MAY ALLOCATE, MAY RUN KIV CODE (callbacks). Scans [request]; with the output
// flag, writes the values into *[out] (a stable cell): the first value alone in
// one-value mode without block_result, else one block! (or appends them to the
// target, then *out is the target). Writes the consumed length into
// *[consumed] (characters for a string! source, else bytes) when not null.
// Returns the datatype id of the last token scanned (0 when none; error!
// after a malformed token when errors are not raised). Raises the syntax
// errors `invalid`, `missing`, `malconstruct` and `bad-char` when full_scan
// and output are both set.
int32_t transcode_input(Cell* out, const TranscodeRequest& request, uint32_t* consumed = nullptr);

// MAY ALLOCATE, MAY RUN KIV CODE. transcode_input over the characters of the
// string-like [str] (a stable cell) from its head, at most [length] of them
// (-1: all), converted to UTF-8 first. The other fields of [request] are used
// as they are; its input, length and source are set here.
int32_t lexer_load_string(Cell* out, const Cell* str, int32_t length, TranscodeRequest request,
                          uint32_t* consumed = nullptr);

// MAY ALLOCATE. The values of UTF-8 [text] as a new block! in *[out] (a stable
// cell); syntax errors are raised.
Cell* lexer_load_utf8(Cell* out, const uint8_t* text, uint32_t length);
// MAY ALLOCATE. lexer_load_utf8 into a new cell pushed on the data stack.
Cell* lexer_push_utf8(std::string_view text);

// The refinements of the transcode native.
struct TranscodeArgs {
  bool next = false;
  bool one = false;
  bool prescan = false;
  bool scan = false;
  const Cell* part = nullptr;      // /part length: integer! or a position of the source's type
  const Cell* into = nullptr;      // /into target block
  LexerCallback* trace = nullptr;  // /trace callback
};

// MAY ALLOCATE, MAY RUN KIV CODE. The transcode native on [source] (a string!
// or binary!, stable cell); the result is written into *[out] (a stable cell):
// the block of values; with /next a block of the value and the source after
// it; with /one the value alone; with /prescan and /scan the datatype! found
// (none when none). Raises script not-same-type for a /part position of
// another type than the source.
Cell* transcode(Cell* out, const Cell* source, const TranscodeArgs& args);

// The token kinds 0-12 have no datatype: callbacks get for them the entry of
// system/lexer/exit-states at the kind (counted from 0).
inline constexpr int kLexExitStateCount = 13;

// Start-up: sizes the value buffer and the scratch buffer and registers the mark callback.
void lexer_init();

// The lexer's answers to the text-loading hooks of the datatypes
// (runtime/hooks.h: text_load_block, text_load_one_value; datatypes/text_load.h).
// MAY ALLOCATE.
void text_load_block_hook(const Cell* str, Cell* out);
void text_load_one_hook(const Cell* str, Cell* out);

}  // namespace kiv
