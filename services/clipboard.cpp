// The clipboard (clipboard.h): the helper tools are run with their standard
// streams on pipes or /dev/null, and waited for; the in-process clipboard is a
// plain C++ string, so the collector never sees it.
#include "services/clipboard.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/process.h"

extern char** environ;

namespace kiv {

namespace {

std::string g_text;
bool g_filled = false;

bool env_set_q(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

// True when [tool] is an executable file in one of PATH's directories.
bool on_path_q(const char* tool) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  for (const char* p = path;; p++) {
    const char* end = std::strchr(p, ':');
    if (!end) end = p + std::strlen(p);
    // An empty entry is the current directory.
    std::string file = end == p ? std::string("./") : std::string(p, size_t(end - p)) + '/';
    file.append(tool);
    if (access(file.c_str(), X_OK) == 0) return true;
    if (!*end) return false;
    p = end;
  }
}

// Runs [argv] with [input] on its standard input (when not null) and its
// standard output read into *[output] (when not null); the streams not used
// are /dev/null. True when the tool ran and exited with status 0.
bool run_tool(const std::vector<const char*>& argv, const std::string* input, std::string* output) {
  int in[2] = {-1, -1}, out[2] = {-1, -1};
  auto close_all = [&] {
    for (int fd : {in[0], in[1], out[0], out[1]})
      if (fd >= 0) close(fd);
  };
  if ((input && pipe2(in, O_CLOEXEC) != 0) || (output && pipe2(out, O_CLOEXEC) != 0)) {
    close_all();
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input)
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (output)
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const char* a : argv) args.push_back(const_cast<char*>(a));
  args.push_back(nullptr);
  pid_t pid = 0;
  int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  // The child's ends are closed here so that EOF reaches each side.
  for (int* fd : {&in[0], &out[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  if (spawned != 0) {
    close_all();
    return false;
  }
  bool ok = true;
  if (input) {
    // SIGPIPE is ignored by the process: a tool that quits early gives EPIPE.
    ok = write_all(in[1], input->data(), input->size());
    close(in[1]);
    in[1] = -1;
  }
  if (output) {
    char buffer[65536];
    for (;;) {
      ssize_t n = read(out[0], buffer, sizeof buffer);
      if (n > 0) {
        output->append(buffer, size_t(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      break;
    }
  }
  close_all();
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

ClipboardTool clipboard_tool() {
  if (env_set_q("WAYLAND_DISPLAY") && on_path_q("wl-copy") && on_path_q("wl-paste"))
    return ClipboardTool::kWayland;
  if (env_set_q("DISPLAY") && on_path_q("xclip")) return ClipboardTool::kX11;
  return ClipboardTool::kInProcess;
}

ClipboardRead clipboard_read(std::string* text) {
  text->clear();
  switch (clipboard_tool()) {
    case ClipboardTool::kWayland:
      if (!run_tool({"wl-paste", "--no-newline"}, nullptr, text)) return ClipboardRead::kFailed;
      break;
    case ClipboardTool::kX11:
      if (!run_tool({"xclip", "-selection", "clipboard", "-o"}, nullptr, text)) return ClipboardRead::kFailed;
      break;
    case ClipboardTool::kInProcess:
      if (g_filled) *text = g_text;
      break;
  }
  return text->empty() ? ClipboardRead::kEmpty : ClipboardRead::kText;
}

bool clipboard_write(const std::string* text) {
  const std::string nothing;
  switch (clipboard_tool()) {
    case ClipboardTool::kWayland:
      if (!text) return run_tool({"wl-copy", "--clear"}, nullptr, nullptr);
      return run_tool({"wl-copy"}, text, nullptr);
    case ClipboardTool::kX11:
      return run_tool({"xclip", "-selection", "clipboard", "-i"}, text ? text : &nothing, nullptr);
    case ClipboardTool::kInProcess:
      g_filled = text != nullptr;
      g_text = text ? *text : std::string();
      return true;
  }
  return false;
}

}  // namespace kiv
