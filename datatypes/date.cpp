// date!: the registration (the payload is laid out in datatypes/date.h). The
// default hash covers all three words.
#include "datatypes/date.h"

#include "datatypes/registry.h"

namespace kiv {

void date_datatype_init() { register_datatype({kTypeDate, kTypeNil, "date!", kActionCount, {}}); }

}  // namespace kiv
