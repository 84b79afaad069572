// Running other programs: posix_spawn with the child's standard streams on
// pipes, files, /dev/null or this process's own, one poll loop serving the
// pipes, and waitpid.
//
// A child starts with every signal at its default action (SIGPIPE too), an
// empty signal mask and only the descriptors 0, 1 and 2. Every pipe and file
// this side opens for it is closed before child_run returns, on every path.
// A child not waited for is remembered and reaped (waitpid with WNOHANG) at
// the next child_run or child_start, so none stays a zombie for long.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Where one of the child's standard streams goes.
enum class ChildStream : uint8_t {
  kNull,     // /dev/null
  kInherit,  // this process's own descriptor of that number
  kPipe,     // input: the bytes given, written by this process; output: captured
  kFile,     // input: read from the file; output: appended to it, created when missing
};

// Bytes captured from a child's stream, outside collected memory.
class ChildBytes {
 public:
  ChildBytes() = default;
  ChildBytes(const ChildBytes&) = delete;
  ChildBytes& operator=(const ChildBytes&) = delete;
  ChildBytes(ChildBytes&& other) noexcept;
  ChildBytes& operator=(ChildBytes&& other) noexcept;
  ~ChildBytes();

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // True when the stream gave more than kChildCaptureMax bytes, or more than
  // memory would hold: the rest was read and dropped.
  bool cut() const { return cut_; }

  // Makes room for at least [room] more bytes; false when memory or the
  // limit refuses (the stream is then cut).
  bool reserve_more(size_t room);
  uint8_t* free_space() { return data_ + size_; }
  size_t free_room() const { return capacity_ - size_; }
  void grew(size_t n) { size_ += n; }
  void mark_cut() { cut_ = true; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool cut_ = false;
};

// The most bytes one captured stream keeps: what one series can hold.
inline constexpr size_t kChildCaptureMax = 0x7FFFFFFF;

struct ChildRequest {
  std::vector<std::string> argv;  // the program, then its arguments; none holds NUL
  bool search_path = true;        // look a program name without "/" up in PATH
  // When not empty and the program is not found (ENOENT), this text is run
  // once through `/bin/sh -c` instead.
  std::string shell_fallback;
  ChildStream in = ChildStream::kNull;
  ChildStream out = ChildStream::kNull;
  ChildStream err = ChildStream::kNull;
  std::string_view in_bytes;  // the input for kPipe (the caller keeps it alive)
  std::string in_path;        // the files for kFile
  std::string out_path;
  std::string err_path;
  bool wait = true;  // forced when any stream is kPipe or kFile
};

struct ChildResult {
  bool started = false;     // false: a file could not be opened, a pipe not made, or the spawn failed
  bool used_shell = false;  // the program was not found and the shell fallback ran it
  // Waited for: the exit status, or 128 + n when signal n ended it. Not
  // waited for: the child's process id. -1 when not started.
  int32_t status = -1;
  ChildBytes out;  // what the child wrote to a kPipe output or error
  ChildBytes err;
};

// Starts the child [request] describes and, when it waits, serves its pipes
// until they close and waits for it.
ChildResult child_run(const ChildRequest& request);

// Starts [argv] (looked up in PATH) with its three streams on /dev/null and
// does not wait; the child is reaped later. 0 when it started, else the errno.
int child_start(const std::vector<std::string>& argv);

// Reaps the children started and not waited for that have ended.
void child_reap();

// The children started and not waited for that are not reaped yet.
size_t child_unreaped_count();

}  // namespace kiv
