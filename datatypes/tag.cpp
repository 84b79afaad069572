// tag!, email! and ref!: text values with string!'s storage
// (datatypes/string.h). Only the registrations stand here so far; they share
// string!'s hooks.
#include "datatypes/registry.h"

namespace kiv {

void tag_datatype_init() { register_datatype({kTypeTag, kTypeString, "tag!", kActionCount, {}}); }
void email_datatype_init() { register_datatype({kTypeEmail, kTypeString, "email!", kActionCount, {}}); }
void ref_datatype_init() { register_datatype({kTypeRef, kTypeString, "ref!", kActionCount, {}}); }

}  // namespace kiv
