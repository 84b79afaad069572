// typeset!: a 96-bit map of type ids in payload words 1-3, most significant
// bit first within each byte (bit of type t: byte t / 8, mask 0x80 >> t % 8).
// Only the registration stands here so far; two typesets are equal when all
// three words are, which the default hash follows.
#include "datatypes/registry.h"

namespace kiv {

void typeset_datatype_init() { register_datatype({kTypeTypeset, kTypeNil, "typeset!", kActionCount, {}}); }

}  // namespace kiv
