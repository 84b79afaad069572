// error!: an object (datatypes/object.h) whose context holds the ten error
// fields. Storage and hooks are object!'s.
#include "datatypes/object.h"
#include "datatypes/registry.h"

namespace kiv {

void error_datatype_init() { register_datatype({kTypeError, kTypeObject, "error!", kActionCount, {}}); }

}  // namespace kiv
