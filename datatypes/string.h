// string!: the text type, and the storage primitives every text type uses
// (string!, file!, url!, tag!, email!, ref! share the cell and the buffer format;
// form/mold buffers of every datatype are strings too).
//
// Value cell:
//   word 0  header: type id (string! 7, file! 8, url! 9, tag! 44, email! 45,
//           ref! 50); flags above, carried along unchanged
//   word 1  head index: signed count of code points from the buffer's head
//   word 2  node of the text buffer, unit 1, 2 or 4 (runtime/unicode.h)
//   word 3  node of the cell's UTF-8/UTF-16 conversion buffer, or 0 (a new
//           string starts with 0); the collector marks it with the cell
//
// Positions, lengths and counts are code points (= units), never bytes. A
// parameter named [index] is absolute: units from the buffer's head, the origin
// of a cell's head index; one named [offset] counts from a cell's head. A head
// index past the tail reads as the tail, a negative one as 0.
//
// Writers that take a node return the buffer, which may have moved (grown or
// widened): re-derive every pointer into it. Cell* parameters of anything that
// MAY ALLOCATE are stable cells (data stack, Root, fixed buffer).
//
// Registration: string_datatype_init (after series!). The search and
// modification slots (append, insert, change, find, select, sort, swap, take,
// trim) are filled by datatypes/string_search.cpp and datatypes/string_modify.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "datatypes/action_slots.h"
#include "datatypes/series.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/typesets.h"
#include "runtime/unicode.h"

namespace kiv {

// ---------------------------------------------------------------- construction
// Each constructor marks its cell unset! before allocating, so a collection never
// sees a half-made value.

// MAY ALLOCATE. Makes *[out] an empty string! with room for [capacity] 1-byte
// units (0 gives 16); returns [out].
Cell* string_make_at(Cell* out, uint32_t capacity);
// MAY ALLOCATE. The same with units of [unit] bytes (0 units gives 16 bytes).
Cell* string_init_unit(Cell* out, uint32_t n, uint32_t unit);
// Pushes a copy of [str] (same text buffer, no conversion buffer of its own yet).
Cell* push_string(const Cell* str);

// Text encodings of load_string.
enum TextEncoding : int32_t { kEncodingUtf8 = 0, kEncodingUtf16le = -1 };

// MAY ALLOCATE. A string! holding [n] bytes of [src] decoded from [encoding]
// (UTF-8 through load_utf8_new, or UTF-16LE units, n / 2 of them), written into
// *[out], or pushed when [out] is null. Any other encoding prints
// "*** Loading Error: input encoding unsupported" and ends the process with 0.
Cell* load_string(ByteSource src, uint32_t n, Cell* out, int32_t encoding);
Cell* string_load_push(ByteSource src, uint32_t n, int32_t encoding);  // MAY ALLOCATE
Cell* file_load_push(ByteSource src, uint32_t n, int32_t encoding);    // MAY ALLOCATE; a file!
// MAY ALLOCATE. load_string appended as a new cell at the tail of the block [block].
Cell* string_load_append(const Cell* block, ByteSource src, uint32_t n, int32_t encoding);

// ---------------------------------------------------------------- reading

// Code points from the buffer's head to the tail, ignoring the cell's head.
inline int32_t string_total_length(const Cell* str) { return int32_t(series_length(str->node())); }
// The head index read as 0..total length (the cell is left alone).
inline int32_t string_head_index(const Cell* str) {
  int32_t total = string_total_length(str), head = str->head();
  return head < 0 ? 0 : head > total ? total : head;
}
// Code points from the head to the tail (0 for a head past the tail).
inline int32_t string_length(const Cell* str) {
  int32_t total = string_total_length(str), head = str->head();
  return head < 0 ? total : head > total ? 0 : total - head;
}
// string_length, and a head past the tail is pulled back to the tail.
int32_t string_length_clamped(Cell* str);
// The head index clamped to 0..total length, written back into [str].
int32_t string_clamp_head(Cell* str);
bool string_at_tail_q(const Cell* str);
// The unit (1, 2 or 4) of the text buffer of [str].
inline uint32_t string_unit(const Cell* str) { return series_buffer(str->node())->unit(); }
// The code point of the unit at [p], of width [unit]; other widths are fatal 101.
inline uint32_t string_get_char(const uint8_t* p, uint32_t unit) { return unit_get(p, unit); }
// The code point at absolute [index] (0 <= index < total length) of the buffer [node].
inline uint32_t string_char_at_node(Node node, uint32_t index) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t unit = b->unit();
  return unit_get(b->head_ptr() + size_t(index) * unit, unit);
}
// The code point at absolute [index] of [str]'s buffer.
inline uint32_t string_char_at(const Cell* str, uint32_t index) {
  return string_char_at_node(str->node(), index);
}
// Offset from the head of the first [cp] (exact match), or -1.
int32_t string_find_char(const Cell* str, uint32_t cp);
// True when the code points from the head equal the bytes of [text] one by one
// (exact, each byte one code point).
bool string_starts_with_cstring_q(const Cell* str, const char* text);
// True when [cp] equals the first unit of some record of [record_size] units
// from the head; folded to upper case on both sides unless [case_sensitive].
bool string_char_in_q(const Cell* str, uint32_t cp, int32_t record_size, bool case_sensitive);

// ---------------------------------------------------------------- writing

// MAY ALLOCATE. Makes room for [extra] more units after the tail and widens the
// buffer to at least [unit] in the same step. A short buffer grows to the needed
// size or twice its capacity, whichever is larger. A text that would pass the
// largest buffer raises internal no-memory.
SeriesBuffer* string_reserve_slow(Node node, uint64_t extra, uint32_t unit);
inline SeriesBuffer* string_reserve(Node node, uint64_t extra, uint32_t unit) {
  // The usual case, inline: the units fit, and so does the text in the
  // capacity (so within kMaxCapacity too).
  SeriesBuffer* b = series_buffer(node);
  uint32_t old = b->unit();
  if (unit <= old && (old == 1 || old == 2 || old == 4) && (unit == 1 || unit == 2 || unit == 4) &&
      b->tail + extra * old <= b->capacity)
    return b;
  return string_reserve_slow(node, extra, unit);
}
// MAY ALLOCATE. Appends one code point. A unit-1 buffer stores only U+0000-U+007F
// as it is: U+0080-U+FFFF widen it to unit 2, higher code points to unit 4; a
// unit-2 buffer widens to unit 4 from U+10000.
SeriesBuffer* append_char(Node node, uint32_t cp);
// MAY ALLOCATE. Stores [cp] at [index] (below the total length), widening the
// buffer when the code point does not fit its unit (unit 1 keeps up to U+00FF).
SeriesBuffer* string_write_char(Node node, uint32_t index, uint32_t cp);
// MAY ALLOCATE. string_write_char that also accepts [index] at the tail, then
// extending the text by one unit.
SeriesBuffer* string_overwrite_char(Node node, uint32_t index, uint32_t cp);
// MAY ALLOCATE. Opens one unit at [index] (up to the total length), moving the
// rest up, and stores [cp] there.
SeriesBuffer* string_insert_char(Node node, uint32_t index, uint32_t cp);
// MAY ALLOCATE. Opens [n] units at [index] (up to the total length), moving the
// rest up, after widening to at least [unit]; the gap's content is left for the
// caller to write.
SeriesBuffer* string_open_gap(Node node, uint32_t index, uint32_t n, uint32_t unit);
// Closes [n] units at [index] (memory moved down, tail reduced); a start at or
// past the tail does nothing, a count past the tail stops there.
void string_remove_part(Node node, uint32_t index, uint32_t n);
inline void string_remove_char(Node node, uint32_t index) { string_remove_part(node, index, 1); }
// Empties the string: unit back to 1, tail at the buffer's head, head index 0.
void string_reset(Cell* str);
// Cuts the text to [n] units from the buffer's head when it holds more.
void string_buffer_truncate(Node node, uint32_t n);
// Cuts the text to [length] code points from [str]'s head when it holds more.
void string_truncate(Cell* str, int32_t length);
// Exchanges the adjacent blocks of [n1] and [n2] units starting at [index] in place.
void string_rotate_blocks(Node node, uint32_t index, uint32_t n1, uint32_t n2);

enum class ConcatMode : uint8_t {
  kAppend,     // at the destination's tail
  kInsert,     // at [offset] units after the destination's head, moving the rest up
  kOverwrite,  // from that position, extending the tail only when writing past it
};
// MAY ALLOCATE. Adds [src]'s text from its head (at most [part] units when part
// >= 0) to [dst] as [mode] says; returns the units written. [src] is any series
// of text units (a string-like value, or a binary! read as Latin-1). The destination is
// widened to the source's unit when narrower; a narrower source is converted
// while copying and never changed. [dst] and [src] may share one buffer.
int32_t string_concatenate(Cell* dst, const Cell* src, int32_t part, int32_t offset, ConcatMode mode);
// MAY ALLOCATE. Appends each byte of [text] as a code point (8-bit text);
// returns the count appended.
int32_t string_append_c_string(Cell* str, std::string_view text);
// MAY ALLOCATE. The same for [n] bytes at [bytes] (not inside a collected series).
int32_t string_append_bytes(Cell* str, const uint8_t* bytes, uint32_t n);
// MAY ALLOCATE. Appends UTF-8 [text] decoded (not inside a collected series);
// invalid or cut-off UTF-8 raises access invalid-utf8. Returns the code points appended.
int32_t string_append_utf8(Cell* str, std::string_view text);

// Hexadecimal digits, upper case, held by value.
struct HexDigits {
  char text[9];
  uint32_t length;
  std::string_view view() const { return {text, length}; }
};
// The two digits of [byte].
HexDigits string_byte_to_hex(uint8_t byte);
// The digits of the 32 bits of [n]: eight of them, or with [minimal] only the
// significant ones ("00" for zero).
HexDigits string_int_to_hex(int32_t n, bool minimal);

// The code points from the head, as UTF-8 (code points past U+10FFFF as U+FFFD).
std::string string_to_utf8(const Cell* str);

// ---------------------------------------------------------------- comparison and access

// -1, 0 or 1 comparing the texts of [a] and [b] from their heads under [op]
// (folded to upper case unless op is strict-equal or case-sensitive sort).
// Match mode 0 compares whole texts (a prefix is lesser); match mode 1 asks
// whether [b] matches at [a]'s head (find and parse).
int string_compare_core(const Cell* a, const Cell* b, CompareOp op, int match_mode);

// MAY ALLOCATE, MAY RUN KIV CODE. Stores the char! [value] at absolute unit
// [index] of [series] with owner notification; raises script invalid-arg for a
// non-char! and out-of-range (with [boxed]) for an index outside the text.
void string_poke_char(Cell* series, int64_t index, Cell* value, const Cell* boxed);

// ---------------------------------------------------------------- form and mold (string_mold.cpp)

// Mode of string_mold_char that escapes control characters (string! and char!).
inline constexpr int kMoldCharEscape = 253;

// MAY ALLOCATE. Appends the text from [value]'s head to [buffer] (at most
// [limit] code points under /part); returns [limit] less the value's length
// from its head.
int32_t string_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. Appends the molded text ("..." or {...}); returns [limit] less
// the code points molded, less 2 for the delimiters.
int32_t string_mold(Cell* value, const MoldArgs& args);
// MAY ALLOCATE. Appends [cp] in its molded form: ^(hex) for 30, 128-159 and with
// [all] everything from 128; in mode kMoldCharEscape also ^letter for control
// characters, ^" and ^^, and ^~ for 127. Returns the code points appended.
int32_t string_mold_char(Cell* buffer, uint32_t cp, int mode, bool all);

// ---------------------------------------------------------------- search (string_search.cpp)
// Handlers of the find and select slots, the set operations and the text tests
// PARSE uses. binary! and vector! inherit find, select, sort and take: these
// handlers also read bytes (never case-folded) and vector elements (compared
// as numbers). Case-insensitive matching folds both sides to upper case.

// The element of [series] at absolute unit [index] (below the total length): a
// char! for the string family, an integer! for binary!, the element value
// (char!, integer!, float! or percent!) for vector!.
Cell string_element_at(const Cell* series, uint32_t index);
// MAY ALLOCATE (a formed search value). find: writes the first slot with the
// series at the match (or after it with /tail), or none.
Cell* string_find(Cell* series, const FindArgs& args);
// MAY ALLOCATE. select: the element after the match, or none, in the first slot.
Cell* string_select(Cell* series, const SelectArgs& select_args);
// MAY ALLOCATE. The set operation on the texts (or bytes) from the heads of [a]
// and [b] ([b] unused by unique), in records of args.skip units identified by
// their first code point, folded unless args.case_. The result, a new text of
// [a]'s type at head 0, replaces [a], which is returned. Called through
// series_set_op.
Cell* string_set_op(Cell* a, Cell* b, const SetOpArgs& args);
// PARSE: whether [value] matches at [str]'s head: a char! its code point (folded
// unless [op] is strict-equal), a tag! its bracketed text, other string-like
// values their text (string_compare_core in match mode).
bool string_match_head_q(const Cell* str, const Cell* value, CompareOp op);
// PARSE: whether "<", [tag]'s text and ">" follow [str]'s head (folded unless [case_sensitive]).
bool string_tag_brackets_q(const Cell* str, const Cell* tag, bool case_sensitive = false);
// PARSE: whether the code point at [str]'s head is in the bitset! [bitset]
// (beyond its bits: the complement flag); false at the tail.
bool string_head_in_bitset_q(const Cell* str, const Cell* bitset);

// ---------------------------------------------------------------- modification (string_modify.cpp)
// Every writer checks its arguments before anything changes, tells an owning
// object before and after the change (the action's word, then its past
// tense), and re-reads the text after that first notification. A source that
// shares the destination's buffer is read as if it had been copied first.

// MAY ALLOCATE, MAY RUN KIV CODE. The append ([append] true) and insert slot.
// [part] limits the text added (see string_modify.cpp), [dup] repeats it (an
// integer!; below 1 adds nothing). append answers the series at head 0, insert
// the position after the inserted text.
Cell* string_insert(Cell* series, const InsertArgs& args);
// append of the text [value] (any string but a tag!, in another buffer, not
// empty from its head) onto [series], a string-like series, as string_insert
// makes it, when no owner watches [series], the text has its unit and the
// room is there: true, [series] at head 0. False, having changed nothing,
// otherwise. Allocates nothing, runs no Kiv code.
bool string_append_short(Cell* series, const Cell* value);
// MAY ALLOCATE, MAY RUN KIV CODE. change: overwrites from the head (or replaces
// exactly [part] units) with the value's whole text; answers the position after it.
Cell* string_change(Cell* series, const ChangeArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. take: series! take; without /part a single
// unit taken comes back as its element.
Cell* string_take(Cell* series, const TakeArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. swap: exchanges the code points at the two
// heads (either buffer may widen); answers [series1].
Cell* string_swap(Cell* series1, const SwapArgs& args);
// MAY RUN KIV CODE. trim: removes whitespace (or the /with set) from the head on.
Cell* string_trim(Cell* series, const TrimArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. sort: sorts the units (or records) from the head.
Cell* string_sort(Cell* series, const SortArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. uppercase ([upper]) and lowercase: maps a
// char! in place, or the code points of a string-like value from its head (all,
// or [part]: an integer! count or a position in the same buffer), widening the
// buffer when a mapping needs it. Returns [value].
Cell* change_case(Cell* value, Cell* part, bool upper);
// The whitespace trim skips: 1-32, U+0085, U+00A0, U+1680, U+180E,
// U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
bool string_whitespace_q(uint32_t cp);

// ---------------------------------------------------------------- registration

// string!'s row for the text types that are strings in storage (url!, tag!,
// email!, ref!): every slot inherited but random, sort and trim, which they do
// not take (string!'s unsupported slots, put and the math among them, stay
// unsupported).
ActionSlots string_text_slots();

}  // namespace kiv
