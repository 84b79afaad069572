// percent!: a fraction shown as a percentage; float!'s storage (datatypes/float.h).
#include "datatypes/float.h"
#include "datatypes/registry.h"

namespace kiv {

void percent_datatype_init() { register_datatype({kTypePercent, kTypeFloat, "percent!", kActionCount, {}}); }

}  // namespace kiv
