// url! and file!: text values with string!'s cell and buffer
// (datatypes/string.h), type ids 9 and 8; file!'s parent is url!.
//
// A url! holds its text decoded: a molded url! writes every byte outside the
// file character table as %XY, and the reader decodes those escapes again
// (url_decode). A file! holds a POSIX path as it is handed to the OS: "/"
// separates names, a leading "/" is the root, there are no drive letters and
// no escapes inside the value.
//
// Path access on either builds a longer value of the same type, joining with
// exactly one "/" (%dir/file). Molds: a url! as its escaped text without
// delimiters; a file! as "%" and its text, between double quotes (with string
// escapes) when the text holds a character outside the file character table.
//
// file!'s read, write, delete, query and rename are put in its row at
// start-up by the file services (services/file_access.h). url!'s network
// actions and open stay unsupported until the HTTP client exists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace kiv {

// The character tables of percent-encoding.
enum class UrlTable : uint8_t {
  // Letters, digits and "!#$&'()*+,-./:=?@_~": what enhex of a non-string!
  // value writes without escapes.
  kFile,
  // Letters, digits and "-._~": what enhex of a string! writes without escapes.
  kUrl,
  // The file table without "(", ")" and ",", which end a literal when loaded:
  // what a molded file! writes without quotes and a molded url! without escapes.
  kMold,
};

// Whether [cp] is in [table] (never for code points from 128 up).
bool url_char_q(UrlTable table, uint32_t cp);

// MAY ALLOCATE. Appends [byte] to the string [out] as itself when it is in
// [table], else as "%" and two upper-case hexadecimal digits; returns the
// code points appended (1 or 3).
int32_t url_encode_byte(Cell* out, UrlTable table, uint8_t byte);
// MAY ALLOCATE. Appends the UTF-8 bytes of [source]'s text from its head to
// [out], each through url_encode_byte; returns the code points appended. A
// code point above U+10FFFF raises script invalid-char.
int32_t url_encode(const Cell* source, Cell* out, UrlTable table);
// MAY ALLOCATE. Appends [source]'s text from its head to [out] with its
// percent escapes decoded: "%" and two hexadecimal digits give a byte; a byte
// that leads a UTF-8 sequence takes as many following escapes as the sequence
// needs and gives one code point (invalid UTF-8 raises access invalid-utf8);
// a lead without its escapes, and a "%" without two hexadecimal digits, stay
// as text; any other byte from 0x80 up gives the code point of its value.
// [source] and [out] may be the same string only when [out] is empty.
void url_decode(const Cell* source, Cell* out);

// MAY ALLOCATE. Appends the OS form of [file]'s path (its text from the head)
// to the string [out]. With [prefix], a relative path (one not starting with
// "/") has the current directory written before it (file_get_current_dir).
void file_write_os_path(const Cell* file, Cell* out, bool prefix);
// MAY ALLOCATE. The OS form of [file]'s path as UTF-8 bytes for a system call
// (no current-directory prefix). A path holding NUL cannot reach the OS
// intact: it raises script invalid-arg with the file.
std::string file_to_os_path(const Cell* file);
// MAY ALLOCATE. Pushes the process's current directory as a string! that ends
// in "/". Raises access cannot-open when the OS cannot give it, and access
// invalid-utf8 when its name is not UTF-8.
Cell* file_get_current_dir();
// MAY ALLOCATE. Pushes a file! made from the UTF-8 OS path [path] (runs of "/"
// become one); invalid UTF-8 raises access invalid-utf8.
Cell* file_from_os_path(std::string_view path);

}  // namespace kiv
