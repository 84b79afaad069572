// The view layer's back-end routines that read the terminal. The rest of
// system/view/platform is Kiv code (view/view.kiv).
#include <unistd.h>

#include "datatypes/pair.h"
#include "library/routines.h"
#include "platform/terminal_size.h"

namespace kiv {

namespace {

constexpr int kDefaultColumns = 80;
constexpr int kDefaultRows = 24;

}  // namespace

// The size of the terminal standard output (else standard input) is on, read
// again at each call; 80x24 when neither is a terminal or it reports no size.
KIV_ROUTINE(GetScreenSize) {
  int columns = 0, rows = 0;
  bool known = terminal_size(STDOUT_FILENO, &columns, &rows) || terminal_size(STDIN_FILENO, &columns, &rows);
  if (!known || columns <= 0 || rows <= 0) {
    columns = kDefaultColumns;
    rows = kDefaultRows;
  }
  return native_result(pair_cell(columns, rows));
}

}  // namespace kiv
