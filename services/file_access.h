// Files and directories for the file! actions (read, write, delete, query,
// rename) and the routines built on them (exists?, create-dir, write-stdout,
// write-stderr, the current directory).
//
// A file! names its path from its head, handed to the OS as it stands
// (file_to_os_path); a relative path is taken from the current directory.
// The spelling decides between the directory and the file operations: a path
// ending in "/", or that is "." or "..", or ends in "/." or "/..", is a
// directory (file_dir_path_q). A path holding NUL raises script invalid-arg
// with the file before any system call (the OS would cut the name there).
// Text is UTF-8 both ways; line ends written are LF, and text read takes
// CR LF and a lone CR as LF. Every operation closes what it opened before it
// returns or raises.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kiv {

// Whether [file]'s text from its head has the directory form.
bool file_dir_path_q(const Cell* file);

// MAY ALLOCATE. Pushes what read of [file] gives. A directory-form path gives
// the block of its entries (file_read_dir). Otherwise the file's bytes from
// byte [seek] (when given, an integer!) and at most [part] bytes (when given,
// an integer!; a negative one reads everything): with [binary] a binary!,
// else text decoded from UTF-8, a byte-order mark at its start skipped and
// CR LF and a lone CR read as LF: with [lines] a block of string! (one per
// line end, no empty last line after a final one), else a string!. An empty
// file, /part 0 and a /seek past the end give "" (an empty binary! with
// [binary]), with [lines] too. Raises access cannot-open with the file when it
// cannot be read, access invalid-utf8 for text that is not UTF-8 (a sequence
// cut by the end of what was read included), and script invalid-refine-arg
// for a /part or /seek that is not an integer!.
Cell* file_read_value(const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines);

// MAY ALLOCATE. Pushes what read gives for the [bytes] read whole: with
// [binary] a binary!, else UTF-8 text as file_read_value decodes it (with
// [lines] a block of string!). [bytes] may be rewritten. Raises script
// too-long past 2^31 - 1 bytes and access invalid-utf8 for text that is not
// UTF-8.
Cell* bytes_to_value(std::string* bytes, bool binary, bool lines);

// MAY ALLOCATE. Pushes a block of file! values: the entries of the directory
// [file] sorted by name, a directory's name ending in "/". Raises access
// cannot-open with the file when it cannot be listed.
Cell* file_read_dir(const Cell* file);

// MAY ALLOCATE. Writes [value] to [file], or to standard output when [file]
// is null, and returns the byte count of the last write. A string! goes as
// UTF-8 (at most [part] characters), a binary! as its bytes from its head (at
// most [part] bytes), anything else as its mold. With [lines] and a block!
// each value of the block is written so and followed by LF; with [lines] and
// any other value that value and one LF. The file is created or truncated;
// [append] writes at its end and [seek] (an integer!) from that byte, both
// keeping the rest. Raises access cannot-open with the file when it cannot be
// opened or written or when /part is negative (nothing is written, the file
// not even opened), and script invalid-refine-arg for a /part that is not an
// integer! or a /seek that is not an integer! of 0 or more. [binary] changes
// nothing here: text is written with LF line ends either way.
int32_t file_write_value(const Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool binary,
                         bool append, bool lines);

// MAY ALLOCATE. Writes [value] to standard error as write-stdout writes to
// standard output (a string! as UTF-8, anything else molded). Reports go
// there; one standard error refuses is lost: nothing is raised.
void file_write_stderr(const Cell* value);

// MAY ALLOCATE. Removes the directory [file] names when it has the directory
// form (it must be empty), else the file it names; true when it was removed.
bool file_delete(const Cell* file);
// MAY ALLOCATE. Pushes the last-write time of what [file] names as a date!
// in UTC, or none! when nothing is there or a directory-form path names a file.
Cell* file_query(const Cell* file);
// MAY ALLOCATE. Renames [from] to [to] (a file! or string!, relative to the
// current directory); true when done. Never replaces an existing [to].
bool file_rename(const Cell* from, const Cell* to);

// MAY ALLOCATE. True when something (file or directory) is at [file]'s path.
bool file_exists(const Cell* file);
// MAY ALLOCATE. Makes the directory [file] names: true when it was made, false
// when a directory stood there already. Raises access no-create with the file
// otherwise, a file of that name included. With [owner_only] the directory
// gets mode 0700.
bool make_directory(const Cell* file, bool owner_only = false);
// MAY ALLOCATE. Pushes the process's current directory as a file! ending in
// "/". Raises access cannot-open when the OS cannot give it.
Cell* current_dir_file();
// MAY ALLOCATE. Makes [file] the process's current directory; false on failure.
bool set_current_dir(const Cell* file);

// Installs file!'s handlers of read, write, delete, query and rename
// (registry_install). Runs once at start-up, after the datatypes are registered.
void file_access_init();

}  // namespace kiv
