// The text hooks of the datatypes (see text_load.h).
#include "datatypes/text_load.h"

#include "runtime/errors.h"

namespace kiv {

TextLoadHooks g_text_load = {nullptr, nullptr};

void text_load_block(const Cell* str, Cell* out) {
  if (!g_text_load.block) raise_error(kErrInternalNotDone);
  g_text_load.block(str, out);
}

void transcode_one_value_into(const Cell* str, Cell* out) {
  if (!g_text_load.one_value) raise_error(kErrInternalNotDone);
  g_text_load.one_value(str, out);
}

}  // namespace kiv
