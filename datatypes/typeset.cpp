// typeset!: the registration (the payload is laid out in datatypes/typeset.h).
#include "datatypes/typeset.h"

#include "datatypes/registry.h"

namespace kiv {

void typeset_datatype_init() { register_datatype({kTypeTypeset, kTypeNil, "typeset!", kActionCount, {}}); }

}  // namespace kiv
