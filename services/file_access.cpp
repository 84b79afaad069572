// File and directory access over the POSIX calls of platform/files.h.
//
// Bytes cross from the OS into std::string buffers outside collected memory,
// so no raw pointer into a series is held while anything allocates; values
// made here live on the data stack until they are returned.
#include "services/file_access.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "platform/files.h"
#include "platform/pages.h"
#include "platform/process.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "services/console_output.h"

namespace kiv {

namespace {

// The integer of a /part or /seek value; script invalid-refine-arg for
// anything else. Absent gives -1.
int64_t refinement_integer(const char* refinement, const Cell* value) {
  if (!value) return -1;
  if (!value->is(kTypeInteger)) raise_refine_arg(refinement, value);
  return integer_get(value);
}

[[noreturn]] void raise_cannot_open(const Cell* file) {
  raise_error(kErrAccessCannotOpen, file ? file : &kNoneCell);
}

Cell* push_empty(bool binary) {
  return binary ? binary_make_at(stack_push(), 0) : string_make_at(stack_push(), 0);
}

// Cuts the UTF-8 [text] after [count] code points.
void cut_code_points(std::string* text, int64_t count) {
  size_t i = 0;
  for (; i < text->size(); i++)
    if ((uint8_t((*text)[i]) & 0xC0) != 0x80 && count-- == 0) break;
  text->resize(i);
}

// MAY ALLOCATE. The bytes written for [value]: a string!'s UTF-8, a binary!'s
// bytes from its head, or the UTF-8 of any other value's mold, cut to [limit]
// characters (bytes for a binary!) when the limit is 0 or more.
std::string value_bytes(const Cell* value, int64_t limit) {
  if (value->is(kTypeBinary)) {
    Cell bin = *value;
    int64_t n = binary_length(&bin);
    if (limit >= 0) n = std::min(n, limit);
    return std::string(reinterpret_cast<const char*>(binary_head_ptr(&bin)), size_t(n));
  }
  std::string text;
  if (value->is(kTypeString)) {
    text = string_to_utf8(value);
  } else {
    StackSave save;
    Cell* copy = stack_push_value(*value);
    Cell* out = string_make_at(stack_push(), 64);
    mold_whole(copy, out);
    text = string_to_utf8(out);
  }
  if (limit >= 0) cut_code_points(&text, limit);
  return text;
}

// MAY ALLOCATE. Pushes the string! decoded from the UTF-8 [bytes] ([n] of
// them), a leading byte-order mark skipped; with [cr] a CR LF and a lone CR
// are read as LF. Access invalid-utf8 for a bad sequence, one cut off by the
// end of the text included: nothing read is dropped.
Cell* push_text(const char* bytes, uint32_t n, bool cr) {
  Cell* out = stack_push();
  uint32_t remaining = 0;
  Node node = load_utf8(ByteSource(bytes), n, 0, &remaining, cr);
  *out = series_cell(kTypeString, node);
  if (remaining > 0) raise_invalid_utf8(reinterpret_cast<const uint8_t*>(bytes) + (n - remaining), remaining);
  return out;
}

// Rewrites the CR LF pairs and lone CRs of [bytes] as LF, in place.
void cr_to_lf(std::string* bytes) {
  size_t r = bytes->find('\r');
  if (r == std::string::npos) return;
  char* p = bytes->data();
  const size_t n = bytes->size();
  size_t w = r;
  for (; r < n; r++) {
    char c = p[r];
    if (c == '\r') {
      if (r + 1 < n && p[r + 1] == '\n') continue;
      c = '\n';
    }
    p[w++] = c;
  }
  bytes->resize(w);
}

// MAY ALLOCATE. Pushes the block of string! lines of the UTF-8 [bytes]: a
// line ends at LF, CR LF or a lone CR; no empty line follows a final line
// end; a leading byte-order mark is skipped.
Cell* push_lines(std::string* bytes) {
  cr_to_lf(bytes);
  const char* p = bytes->data();
  const size_t n = bytes->size();
  const int32_t count = int32_t(std::min<size_t>(std::count(p, p + n, '\n') + 1, INT32_MAX));
  Cell* block = block_push_only(count);
  size_t start = 0;
  while (start < n) {
    const char* lf = static_cast<const char*>(std::memchr(p + start, '\n', n - start));
    const size_t end = lf ? size_t(lf - p) : n;
    StackSave save;
    Cell* line = push_text(p + start, uint32_t(end - start), false);
    *block_append_cell(block) = *line;
    start = end + 1;
  }
  return block;
}

// A descriptor closed when the scope ends, errors included.
struct ReadDescriptor {
  int fd;
  ~ReadDescriptor() {
    if (fd >= 0) os_close(fd);
  }
};

// MAY ALLOCATE. Pushes the binary! of the [size] bytes of the file open as
// [fd] from byte [seek] (when 0 or more), at most [part] (when 0 or more),
// read straight into the binary's buffer.
Cell* read_sized_binary(const Cell* file, int fd, int64_t size, int64_t seek, int64_t part) {
  int64_t n = std::max<int64_t>(size - std::max<int64_t>(seek, 0), 0);
  if (part >= 0) n = std::min(n, part);
  if (n > INT32_MAX) raise_error(kErrScriptTooLong);
  Cell* bin = binary_make_at(stack_push(), uint32_t(n));
  if (n == 0) return bin;
  // The buffer holds n bytes: nothing allocates until the reads are done.
  const Node node = bin->node();
  uint8_t* at = reserve_tail(node, uint32_t(n));
  os_advise_huge_pages(at, size_t(n));
  size_t got = 0;
  if (!os_read_at(fd, std::max<int64_t>(seek, 0), at, size_t(n), &got)) raise_cannot_open(file);
  series_buffer(node)->tail -= uint32_t(size_t(n) - got);  // the file shrank meanwhile
  return bin;
}

// ---------------------------------------------------------------- action handlers

Cell* file_read(Cell* file, const ReadArgs& a) {
  if (a.as) raise_error(kErrInternalNotDone);
  return file_read_value(file, a.part, a.seek, a.binary, a.lines);
}

Cell* file_write(Cell* file, const WriteArgs& a) {
  if (a.allow || a.as) raise_error(kErrInternalNotDone);
  const int32_t count = file_write_value(file, a.data, a.part, a.seek, a.binary, a.append, a.lines);
  return stack_push_value(integer_cell(count));
}

Cell* file_delete_action(Cell* file, const NoneArgs&) {
  return stack_push_value(logic_cell(file_delete(file)));
}

Cell* file_query_action(Cell* file, const NoneArgs&) { return file_query(file); }

Cell* file_rename_action(Cell* file, const RenameArgs& a) {
  return stack_push_value(logic_cell(file_rename(file, a.to)));
}

}  // namespace

bool file_dir_path_q(const Cell* file) {
  const int32_t n = string_length(file);
  if (n <= 0) return false;
  const uint32_t head = uint32_t(string_head_index(file));
  auto at = [&](int32_t back) { return n > back ? string_char_at(file, head + uint32_t(n - 1 - back)) : 0u; };
  if (at(0) == '/') return true;
  if (at(0) != '.') return false;
  // "." or "x/." ; ".." or "x/..".
  if (n == 1 || at(1) == '/') return true;
  return at(1) == '.' && (n == 2 || at(2) == '/');
}

Cell* file_read_value(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines) {
  if (file_dir_path_q(file)) return file_read_dir(file);
  const int64_t part_n = refinement_integer("part", part);
  const int64_t seek_n = refinement_integer("seek", seek);
  const std::string path = file_to_os_path(file);
  int64_t size = -1;
  ReadDescriptor in{os_open_for_read(path, &size)};
  if (in.fd < 0) raise_cannot_open(file);
  // A binary of a file of known size is read into its own buffer; text, and
  // what reports no size (a pipe, /proc), through one string.
  if (binary && size > 0) return read_sized_binary(file, in.fd, size, seek_n, part_n);
  std::string bytes;
  // A value holds at most 2^31 - 1 bytes: one byte more tells a file too long.
  const int64_t most = int64_t(INT32_MAX) + 1;
  if (!os_read_from(in.fd, size, seek_n, part_n < 0 ? most : std::min(part_n, most), &bytes))
    raise_cannot_open(file);
  return bytes_to_value(&bytes, binary, lines);
}

Cell* bytes_to_value(std::string* bytes, bool binary, bool lines) {
  if (bytes->size() > size_t(INT32_MAX)) raise_error(kErrScriptTooLong);
  if (bytes->empty()) return push_empty(binary);
  if (binary) {
    // Copied into a buffer of its full size at once, on huge pages where the
    // OS gives them: a large body faults in far fewer pages.
    const uint32_t n = uint32_t(bytes->size());
    Cell* bin = binary_make_at(stack_push(), n);
    uint8_t* at = reserve_tail(bin->node(), n);
    os_advise_huge_pages(at, n);
    std::memcpy(at, bytes->data(), n);
    return bin;
  }
  if (lines) return push_lines(bytes);
  return push_text(bytes->data(), uint32_t(bytes->size()), true);
}

Cell* file_read_dir(const Cell* file) {
  std::vector<DirEntry> entries;
  if (!os_list_dir(file_to_os_path(file), &entries)) raise_cannot_open(file);
  Cell* block = block_push_only(int32_t(std::min<size_t>(entries.size(), INT32_MAX)));
  for (const DirEntry& e : entries) {
    StackSave save;
    Cell* name = file_from_os_path(e.directory ? e.name + "/" : e.name);
    Cell* slot = block_append_cell(block);
    *slot = *name;
  }
  return block;
}

int32_t file_write_value(const Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool binary,
                         bool append, bool lines) {
  (void)binary;  // LF is written as it stands with or without it
  const int64_t limit = refinement_integer("part", part);
  const int64_t at = refinement_integer("seek", seek);
  if (seek && at < 0) raise_refine_arg("seek", seek);
  // A negative /part writes nothing: the target is not even opened.
  if (part && limit < 0) raise_cannot_open(file);

  // Everything to write, as pieces, made before the file is touched; a
  // binary! is written from its own buffer.
  const bool direct = !lines && value->is(kTypeBinary);
  std::vector<std::string> pieces;
  if (lines && value->is(kTypeBlock)) {
    const Cell block = *value;
    const uint32_t head = uint32_t(std::max(block.head(), 0));
    for (uint32_t i = head; i < series_buffer(block.node())->length(); i++) {
      const Cell item = series_buffer(block.node())->head_cell()[i];
      pieces.push_back(value_bytes(&item, -1));
      pieces.emplace_back("\n");
    }
  } else if (!direct) {
    pieces.push_back(value_bytes(value, limit));
    if (lines) pieces.emplace_back("\n");
  }

  int fd = conout_fd();
  if (file) {
    const std::string path = file_to_os_path(file);
    fd = os_open_for_write(path, append || seek, append, at);
    if (fd < 0) raise_cannot_open(file);
  }
  int64_t last = 0;
  bool written = true;
  if (direct) {
    // Nothing allocates between taking the buffer's address and the write.
    Cell bin = *value;
    int64_t n = binary_length(&bin);
    if (limit >= 0) n = std::min(n, limit);
    written = write_all(fd, binary_head_ptr(&bin), size_t(n));
    if (!written && !file) conout_lost(errno ? errno : EIO);
    last = n;
  }
  for (const std::string& piece : pieces) {
    if (!write_all(fd, piece.data(), piece.size())) {
      // Standard output refusing the data ends the run (conout_lost); a file
      // or another pipe refusing it is an ordinary error.
      if (!file) conout_lost(errno ? errno : EIO);
      written = false;
      break;
    }
    last = int64_t(piece.size());
  }
  if (file && !os_close(fd)) written = false;
  if (!written) raise_cannot_open(file);
  return int32_t(std::min<int64_t>(last, INT32_MAX));
}

void file_write_stderr(const Cell* value) {
  const std::string bytes = value_bytes(value, -1);
  write_all(2, bytes.data(), bytes.size());
}

bool file_delete(const Cell* file) {
  const std::string path = file_to_os_path(file);
  return file_dir_path_q(file) ? os_remove_dir(path) : os_remove_file(path);
}

Cell* file_query(const Cell* file) {
  FileStat st;
  if (!os_stat(file_to_os_path(file), &st)) return stack_push_value(kNoneCell);
  const int32_t n = string_length(file);
  if (!st.directory && string_char_at(file, uint32_t(string_head_index(file) + n - 1)) == '/')
    return stack_push_value(kNoneCell);
  const time_t seconds = time_t(st.modified_seconds);
  struct tm parts;
  if (!gmtime_r(&seconds, &parts) || parts.tm_year + 1900 < kDateMinYear ||
      parts.tm_year + 1900 > kDateMaxYear)
    return stack_push_value(kNoneCell);
  return date_from_parts(stack_push(), parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                         parts.tm_min, parts.tm_sec, st.modified_nanoseconds);
}

bool file_rename(const Cell* from, const Cell* to) {
  if (!to->is(kTypeFile) && !to->is(kTypeString)) raise_error(kErrScriptInvalidArg, to);
  const std::string old_path = file_to_os_path(from);
  const std::string new_path = file_to_os_path(to);
  return os_rename(old_path, new_path);
}

bool file_exists(const Cell* file) {
  FileStat st;
  return os_stat(file_to_os_path(file), &st);
}

bool make_directory(const Cell* file, bool owner_only) {
  const std::string path = file_to_os_path(file);
  if ((owner_only ? os_make_private_dir(path) : os_make_dir(path)) == 0) return true;
  FileStat st;
  if (os_stat(path, &st) && st.directory) return false;
  raise_error(kErrAccessNoCreate, file);
}

Cell* current_dir_file() {
  Cell* dir = file_get_current_dir();
  dir->set_type(kTypeFile);
  return dir;
}

bool set_current_dir(const Cell* file) { return os_set_current_dir(file_to_os_path(file)); }

void file_access_init() {
  registry_install(kTypeFile, {.delete_ = file_delete_action,
                               .query = file_query_action,
                               .read = file_read,
                               .rename = file_rename_action,
                               .write = file_write});
}

}  // namespace kiv
