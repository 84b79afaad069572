// Words as error arguments. The word types' handlers and binding come with
// the symbol table and contexts.
#include "datatypes/word.h"

namespace kiv {

Cell name_word_cell(const char*) { return make_cell(kTypeNone); }

Cell where_word_cell() { return make_cell(kTypeNone); }

}  // namespace kiv
