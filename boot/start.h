// Process start: fatal handlers, the interpreter thread, the outermost catch point.
#pragma once

namespace kiv {

// Runs Kiv for the command line and returns the process exit status.
int start(int argc, char** argv);

}  // namespace kiv
