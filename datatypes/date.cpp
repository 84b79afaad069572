// date!: payload word 1 the packed date (year, month, day, zone, has-time
// flag), words 2-3 the time of day in UTC as a double of seconds. Only the
// registration stands here so far; the default hash covers all three words.
#include "datatypes/registry.h"

namespace kiv {

void date_datatype_init() { register_datatype({kTypeDate, kTypeNil, "date!", kActionCount, {}}); }

}  // namespace kiv
