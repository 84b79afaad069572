// print and prin: the value formed into a string (a block reduced first) and
// handed to the print output hook that the services layer sets.
//
// A block argument is reduced into the print scratch block, a block of the
// root that every print reuses: each print appends after the block's current
// contents and cuts it back afterwards, however it ends, so prints nested in
// the evaluation of a print argument do not clash.
#include <cstdint>

#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/form.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/print_output.h"
#include "runtime/hooks.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

int g_last_newline = 0;

namespace {

// Moves the scratch block's head to its tail for one print; cuts the block
// back and restores its head on every exit.
class ScratchUse {
 public:
  ScratchUse() {
    Cell* s = root_slot(kRootPrintScratch);
    head_ = s->head();
    start_ = block_total_length(s);
    s->set_head(start_);
  }
  ~ScratchUse() {
    Cell* s = root_slot(kRootPrintScratch);
    block_truncate(s, start_);
    s->set_head(head_);
  }
  ScratchUse(const ScratchUse&) = delete;
  ScratchUse& operator=(const ScratchUse&) = delete;
  int32_t start() const { return start_; }

 private:
  int32_t head_ = 0;
  int32_t start_ = 0;
};

// Appends [value] at the scratch block's tail as one value.
void scratch_append(const Cell* value) {
  Cell* out = stack_push_cell(root_slot(kRootPrintScratch));
  InsertArgs ia;
  ia.value = const_cast<Cell*>(value);
  ia.only = true;
  ia.append = true;
  block_insert(out, ia);
}

// MAY RUN KIV CODE. Forms [value] and sends it with [newline] to the hook.
Status print_value(const Cell* value, bool newline) {
  Cell* base = g_stack.top;
  Cell* text = nullptr;
  if (value->is(kTypeBlock)) {
    ScratchUse use;
    Cell* source = stack_push_cell(value);
    source->set_head(series_clamp_head(source, series_total_cells(source)));
    int32_t index = source->head();
    while (index < series_total_cells(source)) {
      Cell* mark = g_stack.top;
      Status s = eval_next(source, &index, true);
      if (s != kStatusOk) {
        g_stack.top = base;
        return s;
      }
      Cell* v = g_stack.top - 1;
      v->clear_new_line();
      scratch_append(v);
      g_stack.top = mark;
    }
    Cell* view = stack_push_cell(root_slot(kRootPrintScratch));
    view->set_head(use.start());
    text = form_to_new_string(view, 0);
    if (g_hooks.print_output) g_hooks.print_output(text, newline);
  } else {
    if (value->is(kTypeString)) {
      text = stack_push_cell(value);
      string_clamp_head(text);
    } else {
      text = form_to_new_string(const_cast<Cell*>(value), 0);
    }
    if (g_hooks.print_output) g_hooks.print_output(text, newline);
  }
  g_stack.top = base;
  g_last_newline = newline ? 1 : 0;
  return kStatusOk;
}

}  // namespace

KIV_NATIVE(Print) {
  Status s = print_value(a.value, true);
  if (s != kStatusOk) return s;
  return native_result(kUnsetCell);
}

KIV_NATIVE(Prin) {
  Status s = print_value(a.value, false);
  if (s != kStatusOk) return s;
  return native_result(kUnsetCell);
}

void natives_output_register() {
  if (!root_slot(kRootPrintScratch)->is(kTypeBlock)) block_new(nullptr, 32, kRootPrintScratch);
  KIV_REGISTER(Print);
  KIV_REGISTER(Prin);
}

}  // namespace kiv
