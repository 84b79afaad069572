// The terminal's size (terminal_size.h).
#include "platform/terminal_size.h"

#include <sys/ioctl.h>

namespace kiv {

bool terminal_size(int fd, int* columns, int* rows) {
  struct winsize size {};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return false;
  *columns = size.ws_col;
  *rows = size.ws_row;
  return true;
}

}  // namespace kiv
