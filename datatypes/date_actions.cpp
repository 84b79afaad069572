// date!: the action handlers and the registration.
#include "datatypes/date.h"
#include "datatypes/registry.h"

namespace kiv {

void date_datatype_init() { register_datatype({kTypeDate, kTypeNil, "date!", kActionCount, {}}); }

}  // namespace kiv
