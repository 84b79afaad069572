// The text hooks of the datatypes (see text_load.h).
#include "datatypes/text_load.h"

#include "runtime/errors.h"
#include "runtime/hooks.h"

namespace kiv {

void text_load_block(const Cell* str, Cell* out) {
  if (!g_hooks.text_load_block) raise_error(kErrInternalNotDone);
  g_hooks.text_load_block(str, out);
}

void transcode_one_value_into(const Cell* str, Cell* out) {
  if (!g_hooks.text_load_one_value) raise_error(kErrInternalNotDone);
  g_hooks.text_load_one_value(str, out);
}

}  // namespace kiv
