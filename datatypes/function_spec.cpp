// Function specs: checking them, reading their type blocks, counting and
// initialising locals, collecting the locals of the `function` maker, and
// naming arguments.
//
// Spec words are matched by canonical symbol (letter case aside). The checks
// read cells by (node, index) and copy each one; nothing they do allocates
// until an error is raised. The collection of locals walks the body without
// recursion and walks each series once, so deep and self-containing bodies
// end.
#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// A copy of cell [i] of the series [node], counted from its first cell.
inline Cell cell_of(Node node, int32_t i) { return series_cells(node)[i]; }

// True when the word-family cell [c] is spelled as the runtime value [v].
bool spelled_q(const Cell& c, RuntimeValue v) {
  Cell name = runtime_value(v);
  return symbol_same_name_q(word_symbol(&c), word_symbol(&name));
}

// The cells a spec names: arguments, refinements and locals.
bool spec_word_q(TypeId t) {
  return t == kTypeWord || t == kTypeLitWord || t == kTypeGetWord || t == kTypeRefinement;
}

// [c] with its flags (the new-line marker) cleared, for an error argument.
Cell bare(Cell c) {
  c.header &= kTypeMask;
  return c;
}

// Raises dup-vars for the first spec word (from [start]) that a later one
// repeats, naming that later one.
void check_duplicates(Node spec, int32_t start, int32_t total) {
  // Canonical symbol -> its first and second positions (-1: none yet).
  std::unordered_map<int32_t, std::pair<int32_t, int32_t>> seen;
  for (int32_t i = start; i < total; i++) {
    Cell c = cell_of(spec, i);
    if (!spec_word_q(c.type())) continue;
    auto [it, fresh] = seen.try_emplace(symbol_resolve(word_symbol(&c)), i, -1);
    if (!fresh && it->second.second < 0) it->second.second = i;
  }
  int32_t first = total, repeat = -1;
  for (const auto& [symbol, at] : seen) {
    if (at.second >= 0 && at.first < first) {
      first = at.first;
      repeat = at.second;
    }
  }
  if (repeat >= 0) {
    Cell word = bare(cell_of(spec, repeat));
    raise_error(kErrScriptDupVars, &word);
  }
}

// ---------------------------------------------------------------- collecting locals

// The words a body assigns, each canonical name once, in the order met.
class LocalsCollector {
 public:
  // [collected] is a stable block cell.
  explicit LocalsCollector(Cell* collected) : collected_(collected) {}

  // Leaves [symbol] out of the collection.
  void leave_out(int32_t symbol) { left_out_.insert(symbol_resolve(symbol)); }

  // MAY ALLOCATE. Appends [word] as a word! unless its name is left out; the
  // name is left out from then on.
  void collect(const Cell& word) {
    if (!left_out_.insert(symbol_resolve(word_symbol(&word))).second) return;
    Cell w = word;
    w.set_header(kTypeWord);
    block_append_value(collected_, &w);
  }

  // MAY ALLOCATE. Walks [body] and the block! and paren! values in it.
  void walk(const Cell& body) {
    visit(body.node(), body.head());
    while (!work_.empty()) {
      Span& s = work_.back();
      int32_t end = std::min(s.end, int32_t(series_length(s.node)));
      if (s.at >= end) {
        work_.pop_back();
        continue;
      }
      Node node = s.node;
      int32_t i = s.at++;
      Cell c = cell_of(node, i);
      TypeId t = c.type();
      if (t == kTypeSetWord) {
        collect(c);
      } else if (t == kTypeWord && i + 1 < end) {
        Cell next = cell_of(node, i + 1);
        int32_t symbol = word_symbol(&c);
        bool loop = runtime_symbol_q(symbol, kSymForeach) || runtime_symbol_q(symbol, kSymRemoveEach);
        if ((loop || runtime_symbol_q(symbol, kSymRepeat)) && next.is(kTypeWord)) {
          collect(next);
        } else if (loop && next.is(kTypeBlock)) {
          for (int32_t k = std::max(next.head(), 0); k < int32_t(series_length(next.node())); k++) {
            Cell w = cell_of(next.node(), k);
            if (w.is(kTypeWord)) collect(w);
          }
        }
      } else if (t == kTypeBlock || t == kTypeParen) {
        visit(c.node(), c.head());  // invalidates s
      }
    }
  }

 private:
  // Cells [at, end) of a series still to walk.
  struct Span {
    Node node;
    int32_t at, end;
  };

  // Walks [node] from [head] next, unless its cells from there were walked:
  // a series met again at an earlier position adds only the cells before
  // those already walked.
  void visit(Node node, int32_t head) {
    int32_t start = std::max(head, 0);
    auto [it, fresh] = lowest_.try_emplace(node, start);
    if (fresh) {
      work_.push_back({node, start, INT32_MAX});
    } else if (start < it->second) {
      work_.push_back({node, start, it->second});
      it->second = start;
    }
  }

  Cell* collected_;
  std::unordered_set<int32_t> left_out_;
  std::unordered_map<Node, int32_t> lowest_;
  std::vector<Span> work_;
};

}  // namespace

// ---------------------------------------------------------------- checking

Cell function_type_block_typeset(const Cell* types_arg) {
  Cell types = *types_arg;
  Cell set = typeset_cell();
  int32_t total = series_total_length(&types);
  for (int32_t i = series_clamp_head(&types, total); i < total; i++) {
    Cell entry = cell_of(types.node(), i);
    Cell value = entry;
    if (entry.is(kTypeWord)) {
      const Cell* found =
          word_context(&entry) ? context_find_value(word_symbol(&entry), word_context(&entry)) : nullptr;
      if (!found || found->is(kTypeUnset)) {
        Cell word = bare(entry);
        raise_error(kErrScriptNoValue, &word);
      }
      value = *found;
      if (value.is(kTypeWord)) continue;
    }
    if (value.is(kTypeDatatype)) {
      typeset_add(&set, datatype_type(&value));
    } else if (value.is(kTypeTypeset)) {
      typeset_add_types(&set, &value);
    } else {
      Cell bad = bare(entry);
      raise_error(kErrScriptInvalidTypeSpec, &bad);
    }
  }
  return set;
}

uint32_t function_check_spec(const Cell* spec_arg) {
  Cell spec = bare(*spec_arg);
  Node node = spec.node();
  auto bad = [&spec] { raise_error(kErrScriptBadFuncDef, &spec); };
  int32_t total = series_total_length(&spec);
  int32_t start = series_clamp_head(&spec, total);
  int32_t i = start;
  uint32_t flags = 0;
  if (i < total && cell_of(node, i).is(kTypeBlock)) {
    Cell attributes = cell_of(node, i++);
    int32_t n = series_total_length(&attributes);
    for (int32_t k = series_clamp_head(&attributes, n); k < n; k++) {
      Cell a = cell_of(attributes.node(), k);
      if (!a.is(kTypeWord)) bad();
      if (runtime_symbol_q(word_symbol(&a), kSymTrace)) flags |= kFlagFunctionTrace;
      if (runtime_symbol_q(word_symbol(&a), kSymNoTrace)) flags |= kFlagFunctionNoTrace;
    }
  }
  auto type_at = [&](int32_t k) { return k < total ? cell_of(node, k).type() : kTypeNil; };
  bool locals = false, returns = false;
  while (i < total) {
    Cell c = cell_of(node, i);
    switch (c.type()) {
      case kTypeWord:
      case kTypeLitWord:
      case kTypeGetWord:
        if (locals && !c.is(kTypeWord)) bad();
        if (returns && !locals) bad();
        // The type block comes before the doc string.
        if (type_at(i + 1) == kTypeString && type_at(i + 2) == kTypeBlock) bad();
        if (type_at(i + 1) == kTypeBlock) {
          Cell types = cell_of(node, i + 1);
          function_type_block_typeset(&types);
          i += 2;
        } else {
          i++;
        }
        break;
      case kTypeString: i++; break;
      case kTypeSetWord: {
        if (returns || locals || !runtime_symbol_q(word_symbol(&c), kSymReturn)) bad();
        returns = true;
        TypeId after = type_at(i + 2);
        if (type_at(i + 1) != kTypeBlock ||
            (after != kTypeNil && after != kTypeRefinement && after != kTypeString))
          bad();
        i += 2;
        break;
      }
      case kTypeRefinement: {
        bool local = spelled_q(c, kRefinementLocal);
        if (!local && (locals || returns)) bad();
        if (local) locals = true;
        TypeId next = type_at(i + 1);
        if (next != kTypeNil && !spec_word_q(next) && next != kTypeSetWord && next != kTypeString) bad();
        i++;
        break;
      }
      default: bad();
    }
  }
  check_duplicates(node, start, total);
  return flags;
}

// ---------------------------------------------------------------- locals

int32_t function_count_locals(Node spec, int32_t start, bool strict) {
  int32_t count = -1;
  for (int32_t i = std::max(start, 0); i < int32_t(series_length(spec)); i++) {
    Cell c = cell_of(spec, i);
    if (count < 0) {
      if (c.is(kTypeRefinement) && spelled_q(c, kRefinementLocal)) count = 1;
    } else if (c.is(kTypeWord)) {
      count++;
    }
  }
  return count >= 0 ? count : strict ? -1 : 0;
}

void init_locals(int32_t count) {
  if (count <= 0) return;
  stack_push_value(kFalseCell);
  for (int32_t i = 1; i < count; i++) stack_push_value(kNoneCell);
}

Cell* function_collect_locals(Cell* spec, const Cell* body_arg) {
  Cell* collected = block_push_only(8);
  Cell* body = stack_push_value(*body_arg);
  LocalsCollector collector(collected);
  Node node = spec->node();
  int32_t total = series_total_length(spec);
  int32_t head = series_clamp_head(spec, total);
  int32_t extern_at = -1;
  for (int32_t i = head; i < total && extern_at < 0; i++) {
    Cell c = cell_of(node, i);
    if (c.is(kTypeRefinement) && spelled_q(c, kRefinementExtern)) extern_at = i;
  }
  // Every name the spec holds is left out: words, and refinements and
  // set-words as words. With /extern nothing else may stand in the spec.
  for (int32_t i = head; i < total; i++) {
    Cell c = cell_of(node, i);
    TypeId t = c.type();
    if (is_any_word(t) || t == kTypeRefinement) {
      collector.leave_out(word_symbol(&c));
    } else if (extern_at >= 0 && t != kTypeBlock && t != kTypeString) {
      Cell value = bare(c);
      raise_error(kErrScriptBadFuncExtern, &value);
    }
  }
  if (extern_at >= 0) {
    // The locals after the external words come first.
    int32_t i = extern_at + 1;
    while (i < total && cell_of(node, i).is(kTypeWord)) i++;
    if (i < total && cell_of(node, i).is(kTypeRefinement) && spelled_q(cell_of(node, i), kRefinementLocal)) {
      for (i++; i < total && cell_of(node, i).is(kTypeWord); i++) {
        Cell w = bare(cell_of(node, i));
        block_append_value(collected, &w);
      }
    }
    block_truncate(spec, extern_at);
  }
  if (body->is(kTypeBlock) || body->is(kTypeParen)) collector.walk(*body);
  if (block_total_length(collected) > 0) {
    if (function_count_locals(spec->node(), head, true) < 0) {
      Cell local = runtime_value(kRefinementLocal);
      block_append_value(spec, &local);
    }
    Cell local_word = runtime_value(kWordLocal);
    block_remove_value(collected, &local_word, true);
    block_append_all(spec, collected);
  }
  stack_pop(uint32_t(g_stack.top - (collected + 1)));
  return collected;
}

// ---------------------------------------------------------------- naming arguments

Cell function_arg_word(const Cell* value, int32_t n) {
  // The words of the value's context, made from the spec it was made from:
  // its argument list was built from the same spec, whatever the spec block
  // holds now.
  TypeId t = value->type();
  if (t == kTypeOp) t = op_underlying_type(value);
  if (is_any_function(t) && t != kTypeOp && n >= 0) {
    Node table = 0;
    if (t == kTypeFunction || t == kTypeRoutine) {
      table = context_table(function_context(value));
    } else if (series_length(native_more(value)) > 0) {
      const Cell* context = series_cells(native_more(value));
      if (context->is(kTypeContext)) table = context_cell_table(context);
    }
    if (table) {
      Node words = hashtable_values(table);
      if (uint32_t(n) < series_length(words)) {
        Cell c = series_cells(words)[n];
        c.set_header(kTypeWord);
        return c;
      }
    }
  }
  return runtime_value(kWordAnon);
}

Cell running_function_arg_word(int32_t n) {
  for (CallFrame* f = g_stack.frames_top - 1; g_stack.frames_base && f >= g_stack.frames_base; f--) {
    uint32_t s = f->symbol();
    if (s == 0 || s == g_stack.body_symbol || s == g_stack.anon_symbol) continue;
    const Cell* value = context_find_value(int32_t(s), f->word_context ? f->word_context : g_global_context);
    return value ? function_arg_word(value, n) : runtime_value(kWordAnon);
  }
  return runtime_value(kWordAnon);
}

}  // namespace kiv
