// The natives call and browse (process_call.h).
#include "services/process_call.h"

#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/file.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "evaluator/natives.h"
#include "platform/child_process.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

// The length of the valid UTF-8 sequence at [p] (before [end]) that a string
// may hold, or 0: no overlong form, surrogate, U+FFFE or value past U+10FFFF.
size_t valid_sequence(const uint8_t* p, const uint8_t* end) {
  uint8_t b = p[0];
  size_t n = b < 0x80                  ? 1
             : (b >= 0xC2 && b < 0xE0) ? 2
             : (b >= 0xE0 && b < 0xF0) ? 3
             : (b >= 0xF0 && b < 0xF5) ? 4
                                       : 0;
  if (n == 0 || size_t(end - p) < n) return 0;
  for (size_t k = 1; k < n; k++)
    if ((p[k] & 0xC0) != 0x80) return 0;
  if (n == 3) {
    if ((b == 0xE0 && p[1] < 0xA0) || (b == 0xED && p[1] >= 0xA0)) return 0;  // overlong, surrogate
    if (b == 0xEF && p[1] == 0xBF && p[2] == 0xBE) return 0;                  // U+FFFE
  }
  if (n == 4 && ((b == 0xF0 && p[1] < 0x90) || (b == 0xF4 && p[1] >= 0x90))) return 0;
  return n;
}

// [bytes] with each byte that does not belong to a valid sequence replaced by
// U+FFFD; empty when they are all valid (the bytes serve as they are).
std::string lenient_utf8(const uint8_t* bytes, size_t size) {
  const uint8_t* end = bytes + size;
  const uint8_t* p = bytes;
  while (p < end) {
    size_t n = valid_sequence(p, end);
    if (n == 0) break;
    p += n;
  }
  if (p == end) return {};
  std::string out(reinterpret_cast<const char*>(bytes), size_t(p - bytes));
  out.reserve(size + 16);
  while (p < end) {
    size_t n = valid_sequence(p, end);
    if (n == 0) {
      out.append("\xEF\xBF\xBD");
      p++;
    } else {
      out.append(reinterpret_cast<const char*>(p), n);
      p += n;
    }
  }
  return out;
}

// MAY ALLOCATE. Adds what the child wrote to [target]: a binary! gets the
// bytes inserted at its head; a string! gets the text appended, decoded
// leniently or strictly (access invalid-utf8), CR LF and lone CR as LF.
void deliver(Cell* target, const ChildBytes& bytes, bool lenient) {
  if (bytes.cut()) raise_error(kErrScriptTooLong);
  if (bytes.size() == 0) return;
  StackSave save;
  if (target->is(kTypeBinary)) {
    auto n = int32_t(bytes.size());
    if (binary_at_tail_q(target)) {
      // At its tail (the usual empty target) the bytes are copied once.
      int32_t index = series_total_length(target);
      SeriesChange change(target, kOwnerInsert, index, n);
      index = series_total_length(target);
      binary_append_bytes(target, bytes.data(), uint32_t(n));
      change.done(index, n);
      return;
    }
    Cell* made = binary_load_push(bytes.data(), uint32_t(n));
    ActionCall(kActionInsert).arg(*target).arg(*made).run();
    return;
  }
  const uint8_t* text = bytes.data();
  size_t size = bytes.size();
  std::string fixed;
  if (lenient) {
    fixed = lenient_utf8(text, size);
    if (!fixed.empty()) {
      text = reinterpret_cast<const uint8_t*>(fixed.data());
      size = fixed.size();
    }
  }
  if (size > kChildCaptureMax) raise_error(kErrScriptTooLong);
  uint32_t cut_off = 0;
  Node node = load_utf8(ByteSource(text), uint32_t(size), 0, &cut_off, true);
  Cell* made = stack_push_value(series_cell(kTypeString, node));
  if (cut_off) raise_invalid_utf8(text + size - cut_off, cut_off);
  ActionCall(kActionAppend).arg(*target).arg(*made).run();
}

// [path] as one command word for the shell: between single quotes, and
// from "./" when it names no folder (the shell would search PATH for it).
std::string shell_quoted(const std::string& path) {
  std::string out = path.find('/') == std::string::npos ? "'./" : "'";
  for (char c : path) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// The text of a string-like [value] from its head as UTF-8; one holding NUL
// raises script invalid-arg with it.
std::string text_without_nul(const Cell* value) {
  std::string text = string_to_utf8(value);
  if (text.find('\0') != std::string::npos) raise_error(kErrScriptInvalidArg, value);
  return text;
}

// Where an output or error [target] (null when absent) sends the stream.
ChildStream output_stream(const Cell* target, ChildStream otherwise, std::string* path) {
  if (!target) return otherwise;
  if (!target->is(kTypeFile)) return ChildStream::kPipe;
  *path = file_to_os_path(target);
  return ChildStream::kFile;
}

}  // namespace

std::vector<std::string> command_words(std::string_view text) {
  std::vector<std::string> words;
  size_t i = 0, n = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  for (;;) {
    while (i < n && blank(text[i])) i++;
    if (i >= n) return words;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || !blank(text[i]))) {
      char c = text[i];
      if (c == '\\') {
        size_t run = 0;
        while (i < n && text[i] == '\\') run++, i++;
        if (i < n && text[i] == '"') {
          word.append(run / 2, '\\');
          if (run % 2) word += '"', i++;
        } else {
          word.append(run, '\\');
        }
      } else if (c == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          word += '"';
          i += 2;
        } else {
          quoted = !quoted;
          i++;
        }
      } else {
        word += c;
        i++;
      }
    }
    words.push_back(std::move(word));
  }
}

KIV_NATIVE(Call) {
  if (string_length(a.cmd) == 0) return native_result(integer_cell(0));
  // Everything that can raise comes before anything is opened or started.
  ChildRequest request;
  ChildStream own = a.console ? ChildStream::kInherit : ChildStream::kNull;
  bool file_command = a.cmd->is(kTypeFile);
  std::string command = file_command ? file_to_os_path(a.cmd) : text_without_nul(a.cmd);
  std::string input;
  request.in = own;
  if (a.input) {
    if (a.input->is(kTypeFile)) {
      request.in = ChildStream::kFile;
      request.in_path = file_to_os_path(a.input);
    } else {
      request.in = ChildStream::kPipe;
      if (a.input->is(kTypeBinary)) {
        int32_t length = binary_length(a.input);
        const uint8_t* bytes = binary_head_ptr(a.input);
        input.assign(reinterpret_cast<const char*>(bytes), size_t(length));
      } else {
        input = string_to_utf8(a.input);
      }
      request.in_bytes = input;
    }
  }
  request.out = output_stream(a.output, own, &request.out_path);
  request.err = output_stream(a.error, own, &request.err_path);
  if (a.shell) {
    request.argv = {"/bin/sh", "-c", file_command ? shell_quoted(command) : command};
    request.search_path = false;
  } else if (file_command) {
    request.argv = {command};
    request.search_path = false;
  } else {
    request.argv = command_words(command);
    request.shell_fallback = command;
  }
  request.wait = a.wait || a.console;

  ChildResult result = child_run(request);
  if (!result.started) return native_result(integer_cell(-1));
  bool lenient = a.console || a.shell || result.used_shell;
  if (request.out == ChildStream::kPipe) deliver(a.output, result.out, lenient);
  if (request.err == ChildStream::kPipe) deliver(a.error, result.err, lenient);
  return native_result(integer_cell(result.status));
}

KIV_NATIVE(Browse) {
  std::string target;
  if (a.url->is(kTypeFile)) {
    file_to_os_path(a.url);  // raises for a path holding NUL
    StackSave save;
    Cell* absolute = string_make_at(stack_push(), 0);
    file_write_os_path(a.url, absolute, true);
    target = string_to_utf8(absolute);
  } else {
    target = text_without_nul(a.url);
  }
  if (child_start({"xdg-open", target}) != 0) raise_error(kErrAccessCannotOpen, a.url);
  return native_result(make_cell(kTypeUnset));
}

void process_call_init() {
  KIV_INSTALL(Call);
  KIV_INSTALL(Browse);
}

}  // namespace kiv
