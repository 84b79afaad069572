// Conversion natives: dehex, enhex, debase, enbase, to-hex, uppercase,
// lowercase, as-pair, as-point2D, as-point3D, as-money, as, extend,
// to-local-file, new-line, new-line?, transcode.
#include "evaluator/natives.h"

namespace kiv {

void natives_convert_register() {}

}  // namespace kiv
