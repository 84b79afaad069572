// port!: an object (datatypes/object.h) whose context holds a port's fields.
// Storage and hooks are object!'s.
#include "datatypes/object.h"
#include "datatypes/registry.h"

namespace kiv {

void port_datatype_init() { register_datatype({kTypePort, kTypeObject, "port!", kActionCount, {}}); }

}  // namespace kiv
