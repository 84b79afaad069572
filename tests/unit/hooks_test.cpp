// The core's hooks: start-up fills every one in one place.
#include "runtime/hooks.h"

#include <gtest/gtest.h>

#include "platform/terminal_mode.h"

namespace kiv {
namespace {

TEST(CoreHooks, StartUpAnswersEveryHook) {
  const CoreHooks& h = g_hooks;
  EXPECT_EQ(h.before_exit, &terminal_restore_for_exit) << "every exit puts the terminal's mode back";
  // Every field but before_exit; a hook added to the struct is added here.
  constexpr size_t kAnswered = 21;
  static_assert(sizeof(CoreHooks) == sizeof(void*) * (kAnswered + 1));
  const void* answered[kAnswered] = {
      reinterpret_cast<const void*>(h.release_runtime_memory),
      reinterpret_cast<const void*>(h.compare_values),
      reinterpret_cast<const void*>(h.make_raised_error),
      reinterpret_cast<const void*>(h.current_code),
      reinterpret_cast<const void*>(h.owner_check),
      reinterpret_cast<const void*>(h.symbol_entry_hash),
      reinterpret_cast<const void*>(h.map_key_hash),
      reinterpret_cast<const void*>(h.map_key_match),
      reinterpret_cast<const void*>(h.context_ops.values),
      reinterpret_cast<const void*>(h.context_ops.set_values),
      reinterpret_cast<const void*>(h.context_ops.heap_values_q),
      reinterpret_cast<const void*>(h.no_secure_random),
      reinterpret_cast<const void*>(h.call_value),
      reinterpret_cast<const void*>(h.object_eval_block),
      reinterpret_cast<const void*>(h.object_invoke_handler),
      reinterpret_cast<const void*>(h.object_on_change),
      reinterpret_cast<const void*>(h.text_load_block),
      reinterpret_cast<const void*>(h.text_load_one_value),
      reinterpret_cast<const void*>(h.face_to_image),
      reinterpret_cast<const void*>(h.print_output),
      reinterpret_cast<const void*>(h.view_wait),
  };
  for (size_t i = 0; i < kAnswered; i++) EXPECT_NE(answered[i], nullptr) << "hook #" << i;
}

}  // namespace
}  // namespace kiv
