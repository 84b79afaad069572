// Making the runtime word cache, once, in list order.
//
// Symbols are interned exactly, so each keeps the spelling listed. Words are
// made through the global context: from text by load_word, from a symbol of
// the list by context_global_word (so the word's symbol is the cached one).
#include "datatypes/runtime_words.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

int32_t g_runtime_symbols[kRuntimeSymbolCount];
uint32_t g_self_symbol = 0;
Cell g_runtime_values[kRuntimeValueCount];

namespace {

bool g_ready = false;

constexpr const char* kSymbolTexts[kRuntimeSymbolCount] = {
#define KIV_SYM(ident, text) text,
    KIV_RUNTIME_SYMBOLS(KIV_SYM)
#undef KIV_SYM
};

enum class EntryKind : uint8_t { kWord, kFromSymbol, kRefinement, kIssue };

struct ValueEntry {
  EntryKind kind;
  const char* text;
  RuntimeSymbol symbol;  // kFromSymbol only
};

constexpr ValueEntry kValueEntries[kRuntimeValueCount] = {
#define KIV_WORD(ident, text) {EntryKind::kWord, text, kRuntimeSymbolCount},
#define KIV_FROM_SYMBOL(ident, sym) {EntryKind::kFromSymbol, nullptr, kSym##sym},
#define KIV_REFINEMENT(ident, text) {EntryKind::kRefinement, text, kRuntimeSymbolCount},
#define KIV_ISSUE(ident, text) {EntryKind::kIssue, text, kRuntimeSymbolCount},
    KIV_RUNTIME_VALUES(KIV_WORD, KIV_FROM_SYMBOL, KIV_REFINEMENT, KIV_ISSUE)
#undef KIV_WORD
#undef KIV_FROM_SYMBOL
#undef KIV_REFINEMENT
#undef KIV_ISSUE
};

// MAY ALLOCATE. The value of entry [e].
Cell make_value(const ValueEntry& e) {
  switch (e.kind) {
    case EntryKind::kWord: return load_word(e.text);
    case EntryKind::kFromSymbol: return context_global_word(g_runtime_symbols[e.symbol]);
    case EntryKind::kRefinement: return load_refinement(e.text);
    case EntryKind::kIssue: return load_issue(e.text);
  }
  return make_cell(kTypeNone);
}

}  // namespace

const char* runtime_symbol_text(RuntimeSymbol s) { return kSymbolTexts[s]; }

const char* runtime_value_text(RuntimeValue v) {
  const ValueEntry& e = kValueEntries[v];
  return e.kind == EntryKind::kFromSymbol ? kSymbolTexts[e.symbol] : e.text;
}

void runtime_words_init() {
  if (g_ready) return;
  for (int i = 0; i < kRuntimeSymbolCount; i++) g_runtime_symbols[i] = symbol_make(kSymbolTexts[i]);

  Node cache = series_alloc_cells(kRuntimeValueCount);
  SeriesBuffer* b = series_buffer(cache);
  for (int i = 0; i < kRuntimeValueCount; i++) b->cells()[i] = make_cell(kTypeNone);
  b->tail = kRuntimeValueCount * sizeof(Cell);
  *root_slot(kRootWordCache) = series_cell(kTypeBlock, cache);

  for (int i = 0; i < kRuntimeValueCount; i++) {
    Cell value = make_value(kValueEntries[i]);
    series_buffer(cache)->cells()[i] = value;
    g_runtime_values[i] = value;
  }

  g_self_symbol = uint32_t(g_runtime_symbols[kSymSelf]);
  g_stack.body_symbol = uint32_t(word_symbol(&g_runtime_values[kWordBody]));
  g_stack.anon_symbol = uint32_t(word_symbol(&g_runtime_values[kWordAnon]));
  g_ready = true;
}

bool runtime_words_ready() { return g_ready; }

bool runtime_symbol_q(int32_t symbol, RuntimeSymbol s) {
  return symbol > 0 && symbol_resolve(symbol) == symbol_resolve(g_runtime_symbols[s]);
}

}  // namespace kiv
