// Making the library at start-up (library.h).
#include "library/library.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "library/library_texts.h"
#include "library/routines.h"
#include "library/system_object.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// MAY RUN KIV CODE. Evaluates the block at [code], a stack cell that the
// value then replaces as the last pushed cell.
Cell* run_pushed(Cell* code) {
  Cell* result = stack_push();
  if (do_block(code, result) != kStatusOk) raise_error(kErrThrowReturn);
  *code = *result;
  g_stack.top = code + 1;
  return code;
}

}  // namespace

void library_run_text(const char* name, const unsigned char* text, uint32_t length) {
  Cell* code = lexer_push_utf8(std::string_view(reinterpret_cast<const char*>(text), length));
  // Every source starts with its header: the word Kiv and a block.
  const Cell* cells = series_cells(code->node());
  if (series_length(code->node()) < 2 || !cells[0].is(kTypeWord) ||
      symbol_name(word_symbol(&cells[0])) != "Kiv" || !cells[1].is(kTypeBlock)) {
    raise_error(kErrSyntaxNoHeader, file_load_push(ByteSource(reinterpret_cast<const uint8_t*>(name)),
                                                   uint32_t(std::strlen(name)), kEncodingUtf8));
  }
  code->set_head(2);
  block_mark_library_code(code);
  run_pushed(code);
}

Cell* library_eval(std::string_view text) {
  Cell* code = lexer_push_utf8(text);
  block_mark_library_code(code);
  return run_pushed(code);
}

void library_init() {
  routines_init();
  for (int i = 0; i < g_library_text_count; i++) {
    StackSave save;
    const LibraryText& t = g_library_texts[i];
    library_run_text(t.name, t.text, t.length);
  }
  system_object_finish();
}

}  // namespace kiv
