// The throw primitive behind every non-local exit.
#include "runtime/exits.h"

namespace kiv {

uint32_t g_last_throw_code = 0;

void throw_code(uint32_t code) {
  g_last_throw_code = code;
  throw KivThrow{code};
}

}  // namespace kiv
