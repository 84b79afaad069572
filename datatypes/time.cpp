// time!: a duration or time of day in seconds; float!'s storage (datatypes/float.h).
#include "datatypes/float.h"
#include "datatypes/registry.h"

namespace kiv {

void time_datatype_init() { register_datatype({kTypeTime, kTypeFloat, "time!", kActionCount, {}}); }

}  // namespace kiv
