// block!: the series of value cells, the code and data container of Kiv, and
// the raw block accessors the whole runtime builds on. paren! and the four path
// types (datatypes/path.cpp) are blocks in storage and share this API.
//
// Value cell (block!, paren!, path!, lit-path!, set-path!, get-path!, hash!):
//   header  type id (block! 5, paren! 6, path! 25, lit-path! 26, set-path! 27,
//           get-path! 28, hash! 36); kFlagNewLine when the cell sits in a block
//           and a line break precedes it
//   word 1  head index: signed count of cells from the buffer's first cell;
//           may lie below 0 or past the tail (read as 0 / as the tail)
//   word 2  node of a buffer of unit 16 (one value cell per unit)
//   word 3  0; the node of the hash! index table for hash!
//
// The new-line marker (kFlagNewLine) belongs to the cell inside a block: cell
// copies keep it, only mold reads it.
//
// Raw accessors do no owner notification and no checks beyond those stated;
// every one that writes keeps a hash! index in step. Handlers (make, to,
// form, mold, eval-path, compare) follow the action-slot conventions.
//
// Collector safety: functions returning Cell* into a block buffer are
// short-lived (valid until the next allocation); the rest take and give
// (value cell, index). A Cell* argument of anything that MAY ALLOCATE must be
// a stable cell (data stack, root slot) or is copied before the allocation.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/typesets.h"

namespace kiv {

// ---------------------------------------------------------------- the cell

// Word 3 of a hash!: the node of its index table (runtime/hashtable.h, kind 0),
// 0 while it has none. Word 3 of every other block type is 0.
inline Node block_hash_index(const Cell* block) { return block->data3; }
inline void block_set_hash_index(Cell* block, Node table) { block->data3 = table; }
// True for a hash! with an index table.
inline bool block_indexed_q(const Cell* block) { return block->is(kTypeHash) && block->data3 != 0; }

// ---------------------------------------------------------------- raw accessors

// Cells from the head to the tail; a head past the tail is set to the tail
// (0 returned), a negative head counts from the first cell.
int32_t block_ks_length_q(Cell* value);
// Short-lived. The head cell; a head past the tail is first set to the tail,
// a negative head reads as the first cell.
Cell* block_ks_head(Cell* value);
// Short-lived. One past the last cell.
Cell* block_ks_tail(const Cell* value);
// True when the head cell is the tail (or past it).
bool block_ks_tail_q(const Cell* value);
// Short-lived. The cell at absolute index [i] counted from the first cell
// (0 <= i < total length is the caller's to check).
Cell* block_ks_abs_at(const Cell* value, int32_t i);
// Cells from the first cell to the tail, whatever the head.
int32_t block_total_length(const Cell* value);
// Moves the head one cell on when a cell remains; true when the head is then
// at the tail.
bool block_advance(Cell* value);
// Cuts the tail at absolute cell [i] (clamped to 0..total); hash! unindexes.
void block_truncate(Cell* value, int32_t i);
// Cuts the tail at the head.
void block_truncate_at_head(Cell* value);
// Drops the last cell when there is one; a head past the new tail is set to it.
void block_remove_last(Cell* value);

// MAY ALLOCATE, MAY RUN KIV CODE (hash! indexing). Appends a copy of [cell]
// (header and new-line marker included) at the tail; returns the new cell
// (short-lived).
Cell* block_append_value(const Cell* block, const Cell* cell);
// MAY ALLOCATE, MAY RUN KIV CODE. Appends copies of [source]'s cells from its
// head ([source] may be [block] itself). Returns [block].
const Cell* block_append_all(const Cell* block, const Cell* source);
// MAY ALLOCATE, MAY RUN KIV CODE. Inserts a copy of [cell] at the head (at the
// first cell with [at_start]); a head past the tail is set to the tail. A full
// buffer grows to twice the needed size. With [advance] the head moves past
// the new cell. Returns the new cell (short-lived).
Cell* block_insert_value(Cell* block, const Cell* cell, bool advance, bool at_start);
// MAY ALLOCATE, MAY RUN KIV CODE. Inserts [source]'s cells from its head one by
// one at [block]'s head, advancing past each.
void block_insert_all(Cell* block, const Cell* source);
// MAY ALLOCATE, MAY RUN KIV CODE. Stack-based forms for compiled code and
// reduce: insert_arg and append_arg put the argument cell (the arguments base)
// into the block held in the cell just below the arguments base;
// append_next_arg appends argument 2 to the block in argument 1.
void block_insert_arg();
void block_append_arg();
void block_append_next_arg();

// MAY RUN KIV CODE. The cell after the first cell from the head equal to
// [value] (find-equal); none when absent or last. The result is a copy.
Cell block_select_value(const Cell* block, const Cell* value);
// MAY RUN KIV CODE. Removes the first cell equal to [value] (find-equal),
// searched from the head, or from the first cell with [from_start]. Returns
// false when nothing was removed or the removed cell lay after the head; true
// when it lay at or before the head.
bool block_remove_value(Cell* block, const Cell* value, bool from_start);
// The cell after the first word-family cell (word!, set-word!, lit-word!,
// get-word!) from the head whose symbol is [word]'s (exact with [strict],
// else the canonical symbol); none when absent or last. The result is a copy.
Cell block_select_word(const Cell* block, const Cell* word, bool strict);

// ---------------------------------------------------------------- construction
// Constructors mark their cell unset! before allocating.

// MAY ALLOCATE. Makes [cell] an empty block! with room for [n] cells (at
// least 1). Returns [cell].
Cell* init_block(Cell* cell, int32_t n);
// MAY ALLOCATE. init_block; with [fixed] the buffer lives outside the
// collected frames (never collected, never moved by compaction), otherwise
// every cell of its capacity is unset!.
Cell* block_init_ext(Cell* cell, int32_t n, bool fixed);
// No root slot: block_new with a parent.
inline constexpr uint32_t kNoRootSlot = 0xFFFFFFFFu;
// MAY ALLOCATE. A new empty block of capacity [n] appended to [parent] (a
// block value), or, with [parent] null, written to the root block's cell
// [slot] (a RootSlot; any other value is fatal). Returns the new cell
// (short-lived).
Cell* block_new(const Cell* parent, int32_t n, uint32_t slot = kNoRootSlot);
// MAY ALLOCATE. The same with a fixed buffer (outside the collected frames).
Cell* block_new_ext(const Cell* parent, int32_t n, uint32_t slot = kNoRootSlot);
// Pushes a copy of the block cell [cell].
Cell* push_block(const Cell* cell);
// MAY ALLOCATE. Pushes a new empty block! with room for [n] cells (at least 1).
Cell* block_push_only(int32_t n);
// MAY ALLOCATE. Pushes a new block of [value]'s type holding copies of its
// cells from the head (capacity at least 1). With [deep] nested block! values
// are cloned recursively (with [any_block] also paren! and the path types),
// each cell keeping its header. A block met again inside itself raises
// internal no-cycle.
Cell* block_clone(const Cell* value, bool deep, bool any_block);

// Marks the block [block] and every block, paren and path in it, deep, as
// the library's own code (kSeriesLibraryCode). Its evaluation does not move
// the current code: an error raised inside takes its `near` from the code
// outside that called the library. Copies (block_clone) drop
// the mark; a function made from such a body marks its own copy. Allocates
// nothing.
void block_mark_library_code(const Cell* block);
// True when the block series [node] is library code.
inline bool block_library_code_q(Node node) { return series_buffer(node)->flags & kSeriesLibraryCode; }
// MAY ALLOCATE. In the block [node], for each cell at absolute index first,
// first + step, ... below [end], whose type matches [types] (a datatype! or
// typeset!) and that is a series or an object-like value (bitset!, object!,
// error!, map!): replaces it by its copy (deep as asked). A block met again
// inside itself raises internal no-cycle.
void block_deep_copy_types(Node node, int32_t first, int32_t end, int32_t step, bool deep, const Cell* types);

// ---------------------------------------------------------------- handlers of block!

// MAY ALLOCATE. make block! [spec]: a block-family spec gives a shallow copy
// retyped; a number an empty block with room for it; raises script
// bad-make-arg otherwise. Writes the first slot.
Cell* block_make(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE. to block! [spec].
Cell* block_to(Cell* proto, const MakeArgs& args);
// MAY ALLOCATE. Forms the elements from the head separated by spaces.
int32_t block_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. "[" the elements "]" with new-line markers and indentation.
int32_t block_mold(Cell* value, const MoldArgs& args);
// MAY ALLOCATE. The cells of [value] from the head between [open] and [close]
// (left out with /only), molded with spaces or the line breaks and
// indentation their markers ask for; a value inside itself is elided. Returns
// the remaining limit. Shared by paren!.
int32_t block_mold_between(Cell* value, const MoldArgs& args, const char* open, const char* close);
// MAY ALLOCATE, MAY RUN KIV CODE. Path step on a block: get or set.
Cell* block_eval_path(Cell* parent, const EvalPathArgs& args);
// MAY RUN KIV CODE. -1, 0, 1, or kNotComparable for different types.
int block_compare(Cell* value, const CompareArgs& args);

// Registers block! (parent series!).
void block_datatype_init();

// ---------------------------------------------------------------- paren! and the path types (path.cpp)

// Overwrite [cell]'s whole header with the type id (flags cleared), then push
// a copy of it; return the stack cell.
Cell* push_path(Cell* cell);
Cell* push_lit_path(Cell* cell);
Cell* push_set_path(Cell* cell);
Cell* push_get_path(Cell* cell);
Cell* push_paren(Cell* cell);
// MAY ALLOCATE. Makes [cell] an empty path! with room for [n] cells (at least 1).
Cell* path_init(Cell* cell, int32_t n);

Cell* path_make(Cell* proto, const MakeArgs& args);  // MAY ALLOCATE
Cell* path_to(Cell* proto, const MakeArgs& args);    // MAY ALLOCATE
// MAY ALLOCATE. The elements formed with "/" between them.
int32_t path_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. The elements molded with "/" between them; lit-path! adds a
// leading "'", set-path! a trailing ":", get-path! a leading ":".
int32_t path_mold(Cell* value, const MoldArgs& args);
int32_t lit_path_mold(Cell* value, const MoldArgs& args);
int32_t set_path_mold(Cell* value, const MoldArgs& args);
int32_t get_path_mold(Cell* value, const MoldArgs& args);
// MAY ALLOCATE. "(" the cells ")" as block_mold_between writes them.
int32_t paren_mold(Cell* value, const MoldArgs& args);
// MAY ALLOCATE. block!'s copy with the same arguments.
Cell* path_copy(Cell* value, const CopyArgs& args);

// Register paren! (parent block!), path! (parent block!) and lit-path!,
// set-path!, get-path! (parent path!), in that order after block!.
void paren_datatype_init();
void path_datatype_init();
void lit_path_datatype_init();
void set_path_datatype_init();
void get_path_datatype_init();

}  // namespace kiv
