// file! and url!: text values with string!'s storage (datatypes/string.h).
// Only the registrations stand here so far; they share string!'s hooks.
#include "datatypes/registry.h"

namespace kiv {

void url_datatype_init() { register_datatype({kTypeUrl, kTypeString, "url!", kActionCount, {}}); }
void file_datatype_init() { register_datatype({kTypeFile, kTypeUrl, "file!", kActionCount, {}}); }

}  // namespace kiv
