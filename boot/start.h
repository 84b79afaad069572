// Process start: fatal handlers, the interpreter thread, the outermost catch point.
#pragma once

#include <functional>

namespace kiv {

// Runs Kiv for the command line and returns the process exit status.
int start(int argc, char** argv);

// The outermost catch point: runs [body]. An error nothing caught is reported
// on standard error and ends the process with status 254 (a report that
// cannot be formed becomes a plain one); a throw nothing caught ends it
// through main_catch (the quiet code with 0, any other as fatal error 95).
void run_outermost(const std::function<void()>& body);

}  // namespace kiv
