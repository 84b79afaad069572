#include "evaluator/lexer_load_internal.h"
namespace kiv::lexload {
bool load_date(LexToken& token, bool, Cell*) { return fail(token, kTypeDate); }
}  // namespace kiv::lexload
