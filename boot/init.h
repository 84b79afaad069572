// Runtime initialisation: one ordered list of init steps, run once at start-up.
#pragma once

namespace kiv {

// Brings the runtime up: memory, datatypes, root block, stacks. Idempotent.
void runtime_init();

}  // namespace kiv
