// The system clipboard: text and lists of files. Under a Wayland display
// (WAYLAND_DISPLAY set and wl-copy/wl-paste on PATH) it goes through those
// tools; under an X display (DISPLAY set and xclip on PATH) through xclip on
// the `clipboard` selection; otherwise through a clipboard kept inside the
// process. The tools run without a shell (platform/helper_tool.h), each under
// a 2 s limit on silence.
//
// Text travels as UTF-8 (`text/plain;charset=utf-8` on Wayland, `UTF8_STRING`
// on X); files as `text/uri-list`, one absolute `file://` URI per line;
// images as encoded bytes, written as `image/png`. A read lists the offered
// types first and takes the first kind present in the order text, files,
// image; an image is the first of `image/png`, `image/jpeg`, `image/gif` and
// `image/bmp` offered.
//
// Nothing here touches Kiv values: the routines convert both ways
// (library/routines.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

enum class ClipboardTool { kWayland, kX11, kInProcess };

// The backend the environment selects now.
ClipboardTool clipboard_tool();

enum class ClipboardKind {
  kNothing,  // empty, or nothing offered in a type read here
  kText,     // ClipboardData::text
  kFiles,    // ClipboardData::files (empty when a list offered names no local file)
  kImage,    // ClipboardData::image, of the type ClipboardData::image_type
};

struct ClipboardData {
  ClipboardKind kind = ClipboardKind::kNothing;
  std::string text;                // valid UTF-8
  std::vector<std::string> files;  // absolute OS paths: valid UTF-8, no NUL
  std::string image_type;          // "image/png", "image/jpeg", "image/gif" or "image/bmp"
  std::string image;               // the encoded picture, as offered (written: PNG)
};

// Reads the clipboard into *[data]. False when a tool could not be run,
// failed or stayed silent past the limit. Text and file names that are not
// valid UTF-8 have each bad sequence replaced by U+FFFD; empty text reads as
// nothing.
bool clipboard_read(ClipboardData* data);

// Puts [data] on the clipboard; kNothing clears it. The file paths must be
// absolute; an image goes under its image_type alone. False when a tool
// could not be run, failed or stayed silent past the limit.
bool clipboard_write(const ClipboardData& data);

// ---------------------------------------------------------------- formats

// [bytes] with every sequence that is not well-formed UTF-8 (overlong forms,
// surrogates, U+FFFE, values past U+10FFFF, a cut-off tail) replaced by
// U+FFFD.
std::string clipboard_repair_utf8(std::string_view bytes);

// The text/uri-list of the absolute paths [files]: "file://" and the path
// with every byte other than letters, digits, "-._~" and "/" written as "%"
// and two upper-case hexadecimal digits; each line ends in CR LF.
std::string clipboard_uri_list(const std::vector<std::string>& files);

// The local paths of a text/uri-list: lines end in LF or CR LF; empty lines
// and "#" comments are skipped, and so are URIs of other schemes or hosts
// (only an empty host or "localhost" is local), relative ones and those whose
// path decodes to a NUL. Escapes are decoded; names are repaired as UTF-8.
std::vector<std::string> clipboard_parse_uri_list(std::string_view list);

// The bytes of an `image/bmp` offer as a bitmap file: as they are when they
// start with "BM", else (a bare bitmap header and its pixels, as some
// programs offer them) behind the 14-byte file header that locates the
// pixels after the header, its bit masks and its palette. Bytes that are
// neither come back as they are.
std::string clipboard_bmp_file(std::string_view bytes);

}  // namespace kiv
