// Running a helper tool found on PATH (the clipboard's wl-copy, wl-paste and
// xclip) for one short exchange: its input written to a pipe, its output and
// error text read from pipes, all in one poll loop, under a limit on how long
// it may stay silent. No shell is involved: the words go to the program as
// they are. The tool starts in a process group of its own with the default
// disposition of every signal, an empty signal mask and only descriptors 0-2;
// when it outstays the limit the whole group is killed and the tool reaped.
// Every descriptor opened here is closed before returning, on failure too.
#pragma once

#include <string>
#include <vector>

namespace kiv {

// The silence a helper tool is allowed, in milliseconds.
inline constexpr int kToolSilenceMs = 2000;

struct ToolRequest {
  std::vector<std::string> argv;       // argv[0] is looked up on PATH
  const std::string* input = nullptr;  // written to its standard input; /dev/null when null
  bool capture_output = false;         // standard output read into ToolResult::output, else /dev/null
  bool capture_errors = false;         // standard error read into ToolResult::errors, else /dev/null
  int silence_ms = kToolSilenceMs;     // how long no byte may move and the tool not end
};

enum class ToolEnd {
  kExited,      // it ended by itself: ToolResult::status holds its exit status (128 + n for signal n)
  kNotStarted,  // it could not be started (not found, not executable, no pipes)
  kTimedOut,    // it stayed silent past the limit: killed and reaped
  kFailed,      // reading its output or waiting for it failed: killed and reaped
};

struct ToolResult {
  ToolEnd end = ToolEnd::kNotStarted;
  int status = -1;
  std::string output;
  std::string errors;

  bool ok() const { return end == ToolEnd::kExited && status == 0; }
};

// Runs the tool [request] names and waits for it. A tool that stops reading
// its input early only ends the writing (SIGPIPE is held back meanwhile, so
// the write sees EPIPE). A tool that leaves a child of its own behind holding the
// captured pipes (one that forks to serve a selection) would be waited for:
// such tools are run with the pipes they keep pointed at /dev/null.
ToolResult tool_run(const ToolRequest& request);

// True when [name] is an executable file in one of PATH's directories (an
// empty entry is the current directory).
bool tool_on_path_q(const char* name);

}  // namespace kiv
