// The start-up order. Every step runs once, in this order; nothing here is a
// static constructor. The core's hooks are filled here, in one struct, and
// installed before the first step.
#include "boot/init.h"

#include "console/terminal.h"
#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/owner.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "platform/terminal_mode.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/random.h"
#include "runtime/resources.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "services/checksum.h"
#include "services/compression.h"
#include "services/console_output.h"
#include "services/file_access.h"
#include "services/http_client.h"
#include "services/print_hooks.h"
#include "services/process_call.h"
#include "tui/draw/draw_init.h"
#include "tui/view_routines.h"
#include "tui/widgets.h"

namespace kiv {

namespace {

bool g_initialised = false;

// error!'s answer to make_raised_error, then the error event to the tracer.
Cell make_raised_error_traced(const RaisedError& raised) {
  Cell error = error_make_raised(raised);
  if (g_interp.tracing) {
    Root held(error);
    trace_raised_error(held.get());
    error = *held.get();
  }
  return error;
}

// Every hook of the core with the function of the higher layer that answers it.
CoreHooks core_hooks() {
  return CoreHooks{
      .before_exit = terminal_restore_for_exit,  // the terminal's saved mode
      .release_runtime_memory = runtime_memory_release,
      .compare_values = action_compare_values,
      .make_raised_error = make_raised_error_traced,
      .current_code = current_code_cell,
      .owner_check = owner_check,
      .symbol_entry_hash = symbol_entry_hash,
      .map_key_hash = map_packed_key_hash,
      .map_key_match = map_packed_key_match,
      .context_ops = kContextFrameOps,
      .no_secure_random = raise_no_secure_random,
      .call_value = call_value_hook,
      .object_eval_block = object_eval_block_hook,
      .object_invoke_handler = object_invoke_handler_hook,
      .object_on_change = object_on_change,
      .text_load_block = text_load_block_hook,
      .text_load_one_value = text_load_one_hook,
      .face_to_image = tui_face_to_image,
      .print_output = call_string_printers,
      .view_wait = tui_view_wait,
  };
}

void first_frames() {
  init_node_frame(kNodeFrameSize);
  init_series_frame();
}

constexpr void (*kInitSteps[])() = {
    init_print_hooks,
    [] { conout_init(1); },
    random_init,
    memory_init,
    raised_error_init,
    resource_tables_init,
    register_all_datatypes,
    file_access_init,
    process_call_init,
    http_client_init,
    checksum_init,
    compression_init,
    first_frames,
    [] { root_block_init(); },
    stack_init,
    symbol_table_init,
    global_context_init,
    cycle_stack_reset,
    load_type_words,
    runtime_words_init,
    error_catalog_init,
    money_currencies_init,
    date_months_init,
    owner_table_init,
    lexer_init,
    console_terminal_init,
    widgets_init,
    view_routines_init,
    tui_draw_init,
};

}  // namespace

void runtime_init() {
  if (g_initialised) return;
  g_initialised = true;
  hooks_install(core_hooks());
  for (auto step : kInitSteps) step();
}

}  // namespace kiv
