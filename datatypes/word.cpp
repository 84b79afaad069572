// The word types: making and pushing words, getting and setting through them,
// the word syntax check behind make/to from text, and the handlers of word!,
// lit-word!, set-word!, get-word!, refinement! and issue!.
//
// A word's name is its symbol's cached name string; form and mold hand a
// read-only view of it to the string former, and only push_word_name gives
// the name out, as a copy.
#include "datatypes/word.h"

#include <algorithm>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

// ---------------------------------------------------------------- making words

Cell load_word(const char* name) { return context_add_global(symbol_make(name), true, true); }

void load_word_into(Cell* out, const char* name) {
  Cell word = load_word(name);
  *out = word;
}

Cell* word_init_cell(int32_t symbol, Cell* cell) {
  Cell word = word_cell(kTypeWord, g_global_context, symbol, -1);
  int32_t slot = context_add_word_unset(g_global_context, &word);
  word_set_index(&word, slot);
  *cell = word;
  return cell;
}

Cell* push_global_word(int32_t symbol) { return word_init_cell(symbol, stack_push()); }

Cell* push_word(const Cell* word) { return stack_push_cell(word); }

namespace {

Cell* push_retyped(Cell word, TypeId type) {
  word.set_type(type);
  return stack_push_value(word);
}

}  // namespace

Cell* push_get_word(const Cell* word) { return push_retyped(*word, kTypeGetWord); }
Cell* push_refinement(const Cell* word) { return push_retyped(*word, kTypeRefinement); }
Cell* push_issue(const Cell* word) { return push_retyped(*word, kTypeIssue); }

Cell* push_context_get_word(Node ctx, int32_t i) {
  return push_retyped(context_node_word_at(ctx, i), kTypeGetWord);
}

Cell* push_context_refinement(Node ctx, int32_t i) {
  return push_retyped(context_node_word_at(ctx, i), kTypeRefinement);
}

Cell load_refinement(const char* name) {
  return make_cell(kTypeRefinement, 0, uint32_t(symbol_make(name)), uint32_t(-1));
}

Cell load_issue(const char* name) {
  return make_cell(kTypeIssue, g_global_context, uint32_t(symbol_make(name)), uint32_t(-1));
}

Cell* issue_init_cell(Cell* cell, const char* name) {
  *cell = load_issue(name);
  return cell;
}

Cell* issue_make_at(const char* name, const Cell* block) {
  Node node = block->node();
  Cell issue = load_issue(name);
  Cell* c = append_cell(node);
  *c = issue;
  return c;
}

Cell name_word_cell(const char* name) {
  if (!symbol_table_ready() || !g_global_context) return make_cell(kTypeNone);
  return load_word(name);
}

Cell where_word_cell() {
  if (!symbol_table_ready() || !g_global_context) return make_cell(kTypeNone);
  uint32_t symbol = stack_where_symbol();
  if (symbol == 0 || symbol > symbol_count()) {
    return runtime_words_ready() ? runtime_value(kWordNotFound) : make_cell(kTypeNone);
  }
  return context_global_word(int32_t(symbol));
}

// ---------------------------------------------------------------- names

Cell* push_word_name(const Cell* word) {
  int32_t symbol = word_symbol(word);
  Cell* out = stack_push();
  Node cached = symbol_cache_string(symbol);
  Node copy = series_copy_buffer(cached);
  *out = series_cell(kTypeString, copy);
  return out;
}

Cell word_symbol_record(const Cell* word) { return symbol_get_record(word_symbol(word)); }

namespace {

inline bool ascii_digit_q(char c) { return c >= '0' && c <= '9'; }

// Bytes that end a token or mark another datatype wherever they stand in a
// word ("%" only marks a file at the start of a name, see plain_word_body_q).
bool word_byte_ok(unsigned char c) {
  constexpr std::string_view kDelimiters = "[](){}\";,\\@$^:#'/";
  return c > ' ' && c != 0x7F && kDelimiters.find(char(c)) == std::string_view::npos;
}

// Upper-case hexadecimal digits followed by "h" read as an integer (or an
// invalid one), never as a word.
bool hex_literal_q(std::string_view b) {
  if (b.size() < 2 || b.size() > 9 || b.back() != 'h') return false;
  for (size_t i = 0; i + 1 < b.size(); i++)
    if (!ascii_digit_q(b[i]) && !(b[i] >= 'A' && b[i] <= 'F')) return false;
  return true;
}

// The name of a word!, set-word!, get-word! or lit-word! without its affixes.
bool plain_word_body_q(std::string_view b) {
  if (b.empty()) return false;
  for (unsigned char c : b)
    if (!word_byte_ok(c)) return false;
  if (ascii_digit_q(b[0])) return false;          // a number, date, time, pair, tuple...
  if (b[0] == '%' && b.size() > 1) return false;  // a file; "%" alone is the word
  if ((b[0] == '+' || b[0] == '-' || b[0] == '.') && b.size() > 1) {
    size_t i = 1;
    if (b[0] != '.' && b[1] == '.' && b.size() > 2) i = 2;
    if (ascii_digit_q(b[i])) return false;  // a signed or fractional number
  }
  if (b[0] == '<' && b.find_first_not_of("<>=") != std::string_view::npos) return false;  // a tag
  return !hex_literal_q(b);
}

// The name of a refinement! or issue!: digits may lead.
bool loose_body_q(std::string_view b) {
  if (b.empty()) return false;
  for (unsigned char c : b)
    if (!word_byte_ok(c)) return false;
  return true;
}

bool all_slashes_q(std::string_view t) {
  return !t.empty() && t.find_first_not_of('/') == std::string_view::npos;
}

}  // namespace

bool scan_word_text(std::string_view text, WordScan* out) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return false;
  size_t last = text.find_last_not_of(" \t\r\n");
  std::string_view t = text.substr(first, last - first + 1);
  auto take = [&](TypeId type, size_t start, size_t length) {
    *out = WordScan{type, first + start, length};
    return true;
  };
  if (all_slashes_q(t)) return take(kTypeWord, 0, t.size());  // "/" and "//" are words
  switch (t[0]) {
    case '/': return loose_body_q(t.substr(1)) && take(kTypeRefinement, 1, t.size() - 1);
    case '#':
      if (t.size() > 1 && (t[1] == '(' || t[1] == '[' || t[1] == '{' || t[1] == '"')) return false;
      return loose_body_q(t.substr(1)) && take(kTypeIssue, 1, t.size() - 1);
    case '\'': return plain_word_body_q(t.substr(1)) && take(kTypeLitWord, 1, t.size() - 1);
    case ':': return plain_word_body_q(t.substr(1)) && take(kTypeGetWord, 1, t.size() - 1);
    default: break;
  }
  if (t.back() == ':')
    return plain_word_body_q(t.substr(0, t.size() - 1)) && take(kTypeSetWord, 0, t.size() - 1);
  return plain_word_body_q(t) && take(kTypeWord, 0, t.size());
}

// ---------------------------------------------------------------- values

Cell* word_get(const Cell* word) {
  Cell* value = get_word_value(word);
  if (value->is(kTypeUnset)) {
    Cell w = *word;
    w.header &= kTypeMask;
    raise_error(kErrScriptNoValue, &w);
  }
  return stack_push_cell(value);
}

Cell* push_word_value(const Cell* word) { return stack_push_cell(get_word_value(word)); }

Cell* set_word() {
  Cell* word = stack_arg(0);
  Cell* value = stack_arg(1);
  if (value->is(kTypeUnset)) raise_error(kErrScriptNeedValue, word);
  set_word_value(word, value);
  *stack_arg(0) = *stack_arg(1);
  return stack_arg(0);
}

// ---------------------------------------------------------------- form and mold

namespace {

// MAY ALLOCATE. Appends the name of [symbol] within the budget; returns the
// budget less the name's length.
int32_t form_name(int32_t symbol, const FormArgs& args) {
  StackSave save;
  Cell* name = stack_push();
  *name = symbol_name_view(symbol);
  return string_form(name, args);
}

}  // namespace

int32_t word_form(Cell* value, const FormArgs& args) { return form_name(word_symbol(value), args); }

namespace {

// A prefix or suffix character is always written and takes one unit of the budget.
int32_t mold_affixed(Cell* value, const MoldArgs& args, const char* prefix, const char* suffix) {
  FormArgs form = form_args_of(args);
  if (prefix) form.limit -= string_append_c_string(form.buffer, prefix);
  form.limit = form_name(word_symbol(value), form);
  if (suffix) form.limit -= string_append_c_string(form.buffer, suffix);
  return form.limit;
}

int32_t word_mold(Cell* value, const MoldArgs& args) { return word_form(value, form_args_of(args)); }

int32_t lit_word_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, "'", nullptr); }

int32_t set_word_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, nullptr, ":"); }

int32_t get_word_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, ":", nullptr); }

int32_t refinement_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, "/", nullptr); }

int32_t issue_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, "#", nullptr); }

// ---------------------------------------------------------------- make and to

[[noreturn]] void raise_bad_to_arg(TypeId type, const Cell* spec) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadToArg, &datatype, spec);
}

// MAY ALLOCATE. The word the UTF-8 [text] loads as; script invalid-chars when
// it is not one word of any type.
Cell word_from_text(const std::string& text) {
  WordScan scan;
  if (!scan_word_text(text, &scan)) raise_error(kErrScriptInvalidChars);
  std::string name = text.substr(scan.name_start, scan.name_length);
  Cell word = load_word(name.c_str());
  word.set_header(scan.type);
  return word;
}

// MAY ALLOCATE. The UTF-8 text of a char! value.
std::string char_text(const Cell* c) {
  uint8_t bytes[4];
  uint8_t* end = utf8_put(bytes, std::min<uint32_t>(char_get(c), kMaxCodePoint));
  return std::string(reinterpret_cast<char*>(bytes), size_t(end - bytes));
}

// MAY ALLOCATE. The word a make or to of a word type gives for [spec], before retyping.
Cell word_value_for(Cell* spec, TypeId type) {
  if (is_any_word(spec->type())) return *spec;
  switch (spec->type()) {
    case kTypeIssue:
    case kTypeRefinement: {
      // Only a name that reads back as a plain word makes a word: anything
      // else would mold as another value (or as nothing at all).
      std::string name = symbol_name_text(word_symbol(spec));
      WordScan scan;
      if (!scan_word_text(name, &scan) || scan.type != kTypeWord || scan.name_start != 0 ||
          scan.name_length != name.size())
        raise_bad_to_arg(type, spec);
      Cell word = *spec;
      int32_t slot = context_find_symbol(g_global_context, word_symbol(&word), true);
      if (slot >= 0) {
        word_bind(&word, g_global_context, slot);
      }
      return word;
    }
    case kTypeString: return word_from_text(string_to_utf8(spec));
    case kTypeChar: return word_from_text(char_text(spec));
    case kTypeDatatype: {
      TypeId t = datatype_type(spec);
      if (t >= 1 && t <= kMaxTypeId && g_type_names[t].word.type() == kTypeWord) return g_type_names[t].word;
      return load_word(type_name(t));
    }
    case kTypeLogic: return load_word(logic_get(spec) ? "true" : "false");
    default: raise_bad_to_arg(type, spec);
  }
}

Cell* word_make(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  Cell word = word_value_for(args.spec, type);
  word.set_header(type);
  return stack_push_value(word);
}

Cell* issue_make(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  Cell issue;
  if (is_all_word(args.spec->type())) {
    issue = *args.spec;
  } else
    switch (args.spec->type()) {
      case kTypeString: issue = word_cell(kTypeIssue, 0, symbol_from_string(args.spec), -1); break;
      case kTypeChar: {
        std::string text = char_text(args.spec);
        issue = word_cell(
            kTypeIssue, 0,
            symbol_make_sized(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())), -1);
        break;
      }
      default: issue = word_value_for(args.spec, type); break;
    }
  // Issues are never bound to a slot.
  return stack_push_value(word_cell(kTypeIssue, g_global_context, word_symbol(&issue), -1));
}

// ---------------------------------------------------------------- compare and index?

// MAY ALLOCATE. The names of two words in text order under [op].
int compare_names(int32_t a, int32_t b, CompareOp op) {
  StackSave save;
  Cell* x = stack_push();
  *x = symbol_name_view(a);
  Cell* y = stack_push();
  *y = symbol_name_view(b);
  return string_compare_core(x, y, op, 0);
}

inline bool word_lit_pair_q(TypeId a, TypeId b) {
  return (a == kTypeWord && b == kTypeLitWord) || (a == kTypeLitWord && b == kTypeWord);
}

int word_compare(Cell* value, const CompareArgs& args) {
  TypeId ta = value->type(), tb = args.value2->type();
  if (!is_all_word(tb) || (tb == kTypeIssue && ta != kTypeIssue)) return kNotComparable;
  int32_t sa = word_symbol(value), sb = word_symbol(args.value2);
  auto result = [](bool equal) { return equal ? 0 : 1; };
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpFindEqual: return result(symbol_resolve(sa) == symbol_resolve(sb));
    case kCmpStrictEqual: return result(ta == tb && sa == sb);
    case kCmpSame: return result(ta == tb && sa == sb && word_context(value) == word_context(args.value2));
    case kCmpWordEqual: return result((word_lit_pair_q(ta, tb) || ta == tb) && sa == sb);
    case kCmpWordCanonEqual:
      return result((word_lit_pair_q(ta, tb) || ta == tb) && symbol_resolve(sa) == symbol_resolve(sb));
    case kCmpLesser:
    case kCmpLesserOrEqual:
    case kCmpGreater:
    case kCmpGreaterOrEqual:
    case kCmpSort:
    case kCmpCaseSort: return compare_names(sa, sb, args.op);
    default: return kNotComparable;
  }
}

int issue_compare(Cell* value, const CompareArgs& args) {
  if (!args.value2->is(kTypeIssue)) return kNotComparable;
  return word_compare(value, args);
}

Cell* word_index_q(Cell* value, const NoneArgs& args) {
  int32_t index = word_index(value);
  *value = index < 0 ? kNoneCell : integer_cell(index + 1);
  return value;
}

}  // namespace

// ---------------------------------------------------------------- registration

namespace {

// A bound word names its context (or, for `self`, its object's block: both
// are series of cells).
void word_mark(const Cell* value) { gc_mark_block(word_context(value)); }

// By the canonical symbol: words equal ignoring letter case hash alike.
uint32_t word_hash(const Cell* value) { return hash_int32(uint32_t(symbol_resolve(word_symbol(value)))); }

// The five other word types share these through their parent.
constexpr TypeHooks kWordHooks{.mark = word_mark, .hash = word_hash};

}  // namespace

void word_datatype_init() {
  register_datatype({kTypeWord,
                     kTypeSymbol,
                     "word!",
                     kActionCount,
                     {.make = word_make,
                      .to = word_make,
                      .form = word_form,
                      .mold = word_mold,
                      .compare = word_compare,
                      .index_q = word_index_q},
                     &kWordHooks});
}

void lit_word_datatype_init() {
  register_datatype({kTypeLitWord,
                     kTypeWord,
                     "lit-word!",
                     kActionCount,
                     {.make = kInherit,
                      .to = kInherit,
                      .form = kInherit,
                      .mold = lit_word_mold,
                      .compare = kInherit,
                      .index_q = kInherit}});
}

void set_word_datatype_init() {
  register_datatype({kTypeSetWord,
                     kTypeWord,
                     "set-word!",
                     kActionCount,
                     {.make = kInherit,
                      .to = kInherit,
                      .form = kInherit,
                      .mold = set_word_mold,
                      .compare = kInherit,
                      .index_q = kInherit}});
}

void get_word_datatype_init() {
  register_datatype({kTypeGetWord,
                     kTypeWord,
                     "get-word!",
                     kActionCount,
                     {.make = kInherit,
                      .to = kInherit,
                      .form = kInherit,
                      .mold = get_word_mold,
                      .compare = kInherit,
                      .index_q = kInherit}});
}

void refinement_datatype_init() {
  register_datatype(
      {kTypeRefinement,
       kTypeWord,
       "refinement!",
       kActionCount,
       {.make = kInherit, .to = kInherit, .form = kInherit, .mold = refinement_mold, .compare = kInherit}});
}

void issue_datatype_init() {
  register_datatype({kTypeIssue,
                     kTypeWord,
                     "issue!",
                     kActionCount,
                     {.make = issue_make,
                      .to = issue_make,
                      .form = kInherit,
                      .mold = issue_mold,
                      .compare = issue_compare}});
}

}  // namespace kiv
