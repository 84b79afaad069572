// The file operations of the console's settings: a private directory, and a
// file that takes the place of another in one step, so that a run ended
// while the settings are written leaves the old file or the new one whole.
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "library/routines.h"
#include "platform/files.h"

namespace kiv {

// The directory, mode 0700, in a parent that stands; false when it cannot be
// made (no error: the console goes on without its settings).
KIV_ROUTINE(MakePrivateDir) {
  return native_result(logic_cell(os_make_private_dir(file_to_os_path(a.path))));
}

// Renames [from] to [to], replacing [to]; false on failure.
KIV_ROUTINE(ReplaceFile) {
  return native_result(logic_cell(os_replace_file(file_to_os_path(a.from), file_to_os_path(a.to))));
}

}  // namespace kiv
