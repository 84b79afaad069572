// The own specs of the built-in callables (builtin_spec.h): the start-up check
// of each spec text against its .def line, the kept specs, the fit of
// another spec and the argument check for callers other than the interpreter.
//
// A spec is read as the argument lists read it (datatypes/arglist.h): from
// cell 0, each word!, lit-word! and get-word! an argument whose types are its
// type block (when the next cell is a block not empty from its position), else
// every type but unset!; each refinement! a refinement, /local ending the
// list; a set-word! skips the cell after it (return: and its types); other
// cells are doc strings and are skipped.
//
// The own specs live in C++ arrays: they hold symbols and type bits, no
// series, so they need no rooting and no script reaches them.
#include "datatypes/builtin_spec.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "platform/process.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// One item of a spec as a call reads it.
struct SpecItem {
  bool refinement = false;
  int32_t symbol = 0;  // the word as spelled
  Cell types{};        // an argument's typeset!
};

bool argument_word_q(TypeId t) { return t == kTypeWord || t == kTypeLitWord || t == kTypeGetWord; }

// Calls [visit](const Cell& item, const Cell* types) for each argument and
// refinement of the spec block [spec] from cell 0, [types] the type block
// of an argument that has one (null otherwise or for a refinement).
template <class Visit>
void walk_spec(Node spec, Visit visit) {
  const Cell local = runtime_value(kRefinementLocal);
  for (int32_t i = 0; i < int32_t(series_length(spec)); i++) {
    const Cell c = series_cells(spec)[i];
    if (argument_word_q(c.type())) {
      Cell types = kNoneCell;
      if (i + 1 < int32_t(series_length(spec))) types = series_cells(spec)[i + 1];
      const bool typed = types.is(kTypeBlock) && types.node() &&
                         series_cell_count(types.node()) > uint32_t(std::max(types.head(), 0));
      visit(c, typed ? &types : nullptr);
    } else if (c.is(kTypeRefinement)) {
      if (symbol_same_name_q(word_symbol(&c), word_symbol(&local))) return;
      visit(c, nullptr);
    } else if (c.is(kTypeSetWord)) {
      i++;
    }
  }
}

// MAY ALLOCATE (through the type blocks' reading). The items of [spec].
std::vector<SpecItem> spec_items(Node spec) {
  std::vector<SpecItem> items;
  walk_spec(spec, [&items](const Cell& c, const Cell* types) {
    SpecItem item;
    item.refinement = c.is(kTypeRefinement);
    item.symbol = word_symbol(&c);
    if (!item.refinement) item.types = types ? function_type_block_typeset(types) : kTypesetAllButUnsetCell;
    items.push_back(item);
  });
  return items;
}

struct OwnSpec {
  const char* word = nullptr;  // null: no own spec
  std::vector<SpecItem> items;
};

std::array<std::array<OwnSpec, kBuiltinIdMax + 1>, 3> g_own{};

const OwnSpec* own_of(Builtin kind, int32_t id) {
  if (id < 1 || id > kBuiltinIdMax) return nullptr;
  const OwnSpec& own = g_own[size_t(kind)][size_t(id)];
  return own.word ? &own : nullptr;
}

// True when [word], as a spec spells it, is what the declared C++ name
// [declared] stands for: - for _, no trailing _, ? for a trailing _q.
bool spelled_as_q(std::string_view word, const char* declared) {
  std::string_view d = declared;
  while (!d.empty() && d.back() == '_') d.remove_suffix(1);
  if (d.size() > 2 && d.ends_with("_q")) {
    if (word.empty() || word.back() != '?') return false;
    word.remove_suffix(1);
    d.remove_suffix(2);
  }
  if (word.size() != d.size()) return false;
  for (size_t i = 0; i < d.size(); i++)
    if (word[i] != (d[i] == '_' ? '-' : d[i])) return false;
  return true;
}

// How an item reads in a report: /word for a refinement.
std::string item_text(bool refinement, std::string_view word) {
  return (refinement ? "/" : "") + std::string(word);
}

// True when [items] (as many) fit the own spec [own].
template <class ItemAt>
bool items_fit_q(const OwnSpec& own, size_t count, ItemAt item_at) {
  if (count != own.items.size()) return false;
  for (size_t i = 0; i < count; i++) {
    const SpecItem given = item_at(i);
    const SpecItem& wanted = own.items[i];
    if (given.refinement != wanted.refinement) return false;
    if (given.refinement ? !symbol_same_name_q(given.symbol, wanted.symbol)
                         : !typeset_within_q(&given.types, &wanted.types))
      return false;
  }
  return true;
}

}  // namespace

std::string builtin_spec_disagreement(const Cell* spec, const char* first, const DeclaredParam* declared) {
  // Declared item [i], the first argument ahead of the line's; null past the end.
  auto declared_at = [first, declared](size_t i, bool* refinement) -> const char* {
    *refinement = false;
    if (first) {
      if (i == 0) return first;
      i--;
    }
    for (const DeclaredParam* p = declared; p->kind != DeclaredParam::kEnd; p++, i--) {
      if (i == 0) {
        *refinement = p->kind == DeclaredParam::kRefinement;
        return p->word;
      }
    }
    return nullptr;
  };
  auto shown = [](bool refinement, const char* declared_word) {
    if (!declared_word) return std::string("nothing more");
    std::string s = item_text(refinement, declared_word);
    while (s.back() == '_') s.pop_back();
    for (char& ch : s)
      if (ch == '_') ch = '-';
    return s;
  };
  size_t at = 0;
  std::string disagreement;
  walk_spec(spec->node(), [&](const Cell& c, const Cell*) {
    if (!disagreement.empty()) return;
    const bool refinement = c.is(kTypeRefinement);
    bool wanted_refinement;
    const char* wanted = declared_at(at++, &wanted_refinement);
    const std::string_view name = symbol_name(word_symbol(&c));
    if (wanted && wanted_refinement == refinement && spelled_as_q(name, wanted)) return;
    disagreement = "its spec has " + item_text(refinement, name) + " where its line declares " +
                   shown(wanted_refinement, wanted);
  });
  bool wanted_refinement;
  if (const char* wanted = declared_at(at, &wanted_refinement); disagreement.empty() && wanted)
    disagreement = "its spec has nothing more where its line declares " + shown(wanted_refinement, wanted);
  return disagreement;
}

void builtin_keep_own_spec(Builtin kind, int32_t id, const char* word, const Cell* spec, const char* first,
                           const DeclaredParam* declared) {
  fatal_assert(id >= 1 && id <= kBuiltinIdMax);
  std::string disagreement = builtin_spec_disagreement(spec, first, declared);
  if (!disagreement.empty()) {
    static constexpr const char* kKinds[] = {"native", "action", "routine"};
    std::string report =
        std::string("*** Start-up: the ") + kKinds[size_t(kind)] + " " + word + ": " + disagreement + "\n";
    write_all(2, report.data(), report.size());
    fatal_assert_failed();
  }
  OwnSpec& own = g_own[size_t(kind)][size_t(id)];
  own.items = spec_items(spec->node());
  own.word = word;
}

bool builtin_has_own_spec(Builtin kind, int32_t id) { return own_of(kind, id) != nullptr; }

bool builtin_spec_fits(Builtin kind, int32_t id, const Cell* spec) {
  const OwnSpec* own = own_of(kind, id);
  if (!own) return false;
  std::vector<SpecItem> items = spec_items(spec->node());
  return items_fit_q(*own, items.size(), [&items](size_t i) { return items[i]; });
}

bool builtin_list_fits(Builtin kind, int32_t id, Node list, int32_t count) {
  const OwnSpec* own = own_of(kind, id);
  if (!own) return false;
  return items_fit_q(*own, size_t(count), [list](size_t i) {
    const Cell c = series_cells(list)[i];
    SpecItem item;
    item.refinement = c.is(kTypeRefinement);
    if (item.refinement)
      item.symbol = word_symbol(&c);
    else
      item.types = c;
    return item;
  });
}

void builtin_check_args(Builtin kind, int32_t id, const int32_t* r) {
  const OwnSpec* own = own_of(kind, id);
  if (!own) return;
  // A routine's refinements take a slot each, as a function's do.
  const bool refinement_slots = kind == Builtin::kRoutine;
  const Cell* base = g_stack.arguments;
  int32_t slot = 0, ordinal = -1;
  bool active = true;
  for (const SpecItem& item : own->items) {
    if (item.refinement) {
      active = r[++ordinal] >= 0;
      if (refinement_slots) slot++;
      continue;
    }
    const Cell* arg = base + slot++;
    if (active && !typeset_has_q(&item.types, arg->type())) {
      Cell function = name_word_cell(own->word);
      const std::string name = symbol_name_text(item.symbol);
      Cell argument = name_word_cell(name.c_str());
      raise_expect_arg(&function, arg->type(), &argument);
    }
  }
}

}  // namespace kiv
