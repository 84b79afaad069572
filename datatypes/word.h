// Words: word!, set-word!, lit-word!, get-word!, refinement!, issue!.
//
// Value cell (shared by the six types):
//   word 0  header  type id (15 word!, 16 set-word!, 17 lit-word!, 18 get-word!,
//                   19 refinement!, 20 issue!); kFlagNewLine; in an object
//                   context's words block kFlagFieldSet (datatypes/context.h)
//   word 1  node of the context the word is bound to (the global context for
//           words made from text), 0 when unbound
//   word 2  symbol id, as spelled (datatypes/symbol.h)
//   word 3  slot index in that context; -1 when not resolved yet, for every
//           issue! and for a `self` word bound to its object
//
// word! has parent symbol!; the five others have parent word!. Words made
// from a name are bound to the global context; their values live there. Every
// function here returns or writes whole cells: a word's only reference is its
// context node, so a copy held in a C++ local stays valid while that context
// is reachable (the global context always is).
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

// ---------------------------------------------------------------- the cell

inline Node word_context(const Cell* word) { return word->data1; }
inline int32_t word_symbol(const Cell* word) { return int32_t(word->data2); }
inline int32_t word_index(const Cell* word) { return int32_t(word->data3); }
inline void word_set_context(Cell* word, Node ctx) { word->data1 = ctx; }
inline void word_set_symbol(Cell* word, int32_t symbol) { word->data2 = uint32_t(symbol); }
inline void word_set_index(Cell* word, int32_t index) { word->data3 = uint32_t(index); }
// Binds [word] to slot [index] of [ctx].
inline void word_bind(Cell* word, Node ctx, int32_t index) {
  word->data1 = ctx;
  word->data3 = uint32_t(index);
}
// A word-family cell of [type] (flags clear).
inline Cell word_cell(TypeId type, Node ctx, int32_t symbol, int32_t index) {
  return make_cell(type, ctx, uint32_t(symbol), uint32_t(index));
}
// The name a call frame takes from the word that called it; {} for null.
inline FrameName frame_name_of(const Cell* word) {
  return word ? FrameName{word->data2, word->data1} : FrameName{};
}

// ---------------------------------------------------------------- making words

// MAY ALLOCATE. The global context's word! for the UTF-8 [name]: the symbol is
// interned exactly, the word found ignoring case (keeping [name]'s spelling)
// or added with an unset! value.
Cell load_word(const char* name);
// MAY ALLOCATE. load_word written to *[out] ([out] outside series memory or stable).
void load_word_into(Cell* out, const char* name);
// MAY ALLOCATE. Makes the stable [cell] a word! of the global context for
// [symbol] (canonical match; a new symbol gets an unset! value). Returns [cell].
Cell* word_init_cell(int32_t symbol, Cell* cell);
// MAY ALLOCATE. Pushes a word! made by word_init_cell.
Cell* push_global_word(int32_t symbol);
// Pushes a copy of [word], or a copy retyped get-word!, refinement! or issue!.
Cell* push_word(const Cell* word);
Cell* push_get_word(const Cell* word);
Cell* push_refinement(const Cell* word);
Cell* push_issue(const Cell* word);
// Push word #[i] of the context [ctx] retyped get-word! or refinement!.
Cell* push_context_get_word(Node ctx, int32_t i);
Cell* push_context_refinement(Node ctx, int32_t i);
// MAY ALLOCATE. A refinement! for [name], with no context and index -1.
Cell load_refinement(const char* name);
// MAY ALLOCATE. An issue! for [name]: global context, exact symbol, index -1.
Cell load_issue(const char* name);
// MAY ALLOCATE. Makes the stable [cell] the issue! of [name]. Returns [cell].
Cell* issue_init_cell(Cell* cell, const char* name);
// MAY ALLOCATE. The issue! of [name] appended to the block [block]; returns
// the new cell (short-lived).
Cell* issue_make_at(const char* name, const Cell* block);

// The word of [name] in the global context, or none! while the symbol table
// or the global context does not exist yet (early start-up). MAY ALLOCATE.
Cell name_word_cell(const char* name);
// MAY ALLOCATE. The word naming the innermost listed call frame (an error's
// "where", and the function an argument error names): that frame's symbol as
// a global word, else the runtime word <not-found>; none! during early start-up.
Cell where_word_cell();

// ---------------------------------------------------------------- names

// MAY ALLOCATE. Pushes the name of [word]'s symbol as a new string! (a copy:
// the symbol's own cached string is never handed out).
Cell* push_word_name(const Cell* word);
// MAY ALLOCATE. A copy of the symbol record of [word], its cached name string built.
Cell word_symbol_record(const Cell* word);

// How one token of text reads as a word: the type and where the name lies.
struct WordScan {
  TypeId type;        // word!, set-word!, get-word!, lit-word!, refinement! or issue!
  size_t name_start;  // byte offset of the name, prefix and suffix stripped
  size_t name_length;
};
// True when the UTF-8 [text], blanks at both ends aside, is exactly one word
// token of any of the six types; fills *[out]. Numbers, strings, paths, URLs,
// files, e-mail addresses, tags, money and several values are not words.
bool scan_word_text(std::string_view text, WordScan* out);

// ---------------------------------------------------------------- values

// Pushes a copy of [word]'s value; script no-value with the word when it is
// unset!, and the errors of get_word_value.
Cell* word_get(const Cell* word);
// Pushes a copy of [word]'s value, unset! included.
Cell* push_word_value(const Cell* word);
// MAY ALLOCATE, MAY RUN KIV CODE. The current call's argument 1 (a word) takes
// argument 2 as its value; argument 2 becomes the result (the first slot),
// which is returned. Script need-value with the word when argument 2 is unset!.
Cell* set_word();

// MAY ALLOCATE. The form of a word (its name, cut to [limit] code points
// under /part); returns the limit less the name's length.
int32_t word_form(Cell* value, const FormArgs& args);

}  // namespace kiv
