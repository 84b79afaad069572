// Where print and prin send their formed text: the print_output hook
// (runtime/hooks.h), which the services answer. Without one the text goes
// nowhere.
#pragma once

namespace kiv {

// 1 when the last print ended a line (print), 0 after prin.
extern int g_last_newline;

}  // namespace kiv
