// The clipboard (clipboard.h): the helper tools' commands, the offered types
// and the choice among them, the text/uri-list format, the lenient UTF-8 of
// what other programs put there and the bitmaps they offer bare. The in-process clipboard is plain C++
// data, so the collector never sees it.
#include "services/clipboard.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/helper_tool.h"

namespace kiv {

namespace {

ClipboardData g_kept;

constexpr const char* kUtf8Text = "text/plain;charset=utf-8";
constexpr const char* kX11Text = "UTF8_STRING";
constexpr const char* kUriList = "text/uri-list";
constexpr const char* kPng = "image/png";
// The image types read, in the order of preference.
constexpr const char* kImageTypes[] = {kPng, "image/jpeg", "image/gif", "image/bmp"};

bool env_set_q(const char* name) {
  const char* v = std::getenv(name);
  return v && *v;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// [s] lower-cased without blanks and quotes: the types "text/plain;
// charset=UTF-8" and "text/plain;charset=\"utf-8\"" compare equal to kUtf8Text.
std::string type_key(std::string_view s) {
  std::string key;
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '"') key += lower(c);
  return key;
}

bool contains_q(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// ---------------------------------------------------------------- choosing a type

enum class Wanted { kText, kFiles, kImage };

struct Choice {
  std::string type;  // empty: none of the offered types is read here
  Wanted wanted = Wanted::kText;
};

// The offered type to fetch from the tool's list [listed] (one type a line):
// text first (UTF-8 text, then plain text, read as UTF-8), then files, then
// the first image type of kImageTypes offered.
Choice choose_type(const std::string& listed) {
  std::vector<std::string> types;
  size_t at = 0;
  while (at < listed.size()) {
    size_t end = listed.find('\n', at);
    if (end == std::string::npos) end = listed.size();
    std::string line = listed.substr(at, end - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) types.push_back(line);
    at = end + 1;
  }
  auto offered = [&](auto match) -> std::string {
    for (const std::string& t : types)
      if (match(t)) return t;
    return std::string();
  };
  std::string type = offered([](const std::string& t) { return type_key(t) == kUtf8Text || t == kX11Text; });
  if (type.empty()) type = offered([](const std::string& t) { return type_key(t) == "text/plain"; });
  if (!type.empty()) return {type, Wanted::kText};
  type = offered([](const std::string& t) { return type_key(t) == kUriList; });
  if (!type.empty()) return {type, Wanted::kFiles};
  for (const char* image : kImageTypes) {
    type = offered([image](const std::string& t) { return type_key(t) == image; });
    if (!type.empty()) return {type, Wanted::kImage};
  }
  return {};
}

// Turns the fetched bytes [bytes] of the kind [wanted] into *[data].
void take(const Choice& choice, std::string& bytes, ClipboardData* data) {
  const Wanted wanted = choice.wanted;
  if (wanted == Wanted::kImage) {
    // Empty bytes are no picture: nothing.
    if (bytes.empty()) return;
    data->kind = ClipboardKind::kImage;
    data->image_type = type_key(choice.type);
    data->image = std::move(bytes);
    return;
  }
  if (wanted == Wanted::kFiles) {
    data->kind = ClipboardKind::kFiles;
    data->files = clipboard_parse_uri_list(bytes);
    return;
  }
  data->text = clipboard_repair_utf8(bytes);
  data->kind = data->text.empty() ? ClipboardKind::kNothing : ClipboardKind::kText;
}

ToolResult run(std::vector<std::string> argv, bool capture_errors) {
  ToolRequest request;
  request.argv = std::move(argv);
  request.capture_output = true;
  request.capture_errors = capture_errors;
  return tool_run(request);
}

// ---------------------------------------------------------------- reading

// wl-paste lists the types, then fetches the one chosen. With nothing
// copied, listing fails with a message saying so.
bool read_wayland(ClipboardData* data) {
  ToolResult listed = run({"wl-paste", "--list-types"}, true);
  if (!listed.ok()) {
    const bool empty = listed.end == ToolEnd::kExited && (contains_q(listed.errors, "No selection") ||
                                                          contains_q(listed.errors, "Nothing is copied"));
    return empty;
  }
  Choice choice = choose_type(listed.output);
  if (choice.type.empty()) return true;
  ToolResult fetched = run({"wl-paste", "--no-newline", "--type", choice.type}, false);
  if (!fetched.ok()) return false;
  take(choice, fetched.output, data);
  return true;
}

// xclip fetches one target of the clipboard selection; "not available" in its
// error text means the selection has no owner or the owner refuses the target.
ToolResult xclip_fetch(const std::string& target) {
  return run({"xclip", "-selection", "clipboard", "-o", "-t", target}, true);
}

bool refused_q(const ToolResult& r) {
  return r.end == ToolEnd::kExited && contains_q(r.errors, "not available");
}

bool read_x11(ClipboardData* data) {
  ToolResult listed = xclip_fetch("TARGETS");
  if (!listed.ok()) {
    if (!refused_q(listed)) return false;
    // No owner, or one too old to list its targets: ask for UTF-8 text once.
    ToolResult text = xclip_fetch(kX11Text);
    if (text.ok()) take({kX11Text, Wanted::kText}, text.output, data);
    return text.ok() || refused_q(text);
  }
  Choice choice = choose_type(listed.output);
  if (choice.type.empty()) return true;
  ToolResult fetched = xclip_fetch(choice.type);
  if (!fetched.ok()) return false;
  take(choice, fetched.output, data);
  return true;
}

// ---------------------------------------------------------------- writing

// The tools stay behind to serve the clipboard (they fork): their output and
// error streams go to /dev/null, so that nothing here waits on them.
bool put(std::vector<std::string> argv, const std::string& input) {
  ToolRequest request;
  request.argv = std::move(argv);
  request.input = &input;
  return tool_run(request).ok();
}

bool write_wayland(const ClipboardData& data) {
  switch (data.kind) {
    case ClipboardKind::kNothing: {
      ToolRequest request;
      request.argv = {"wl-copy", "--clear"};
      return tool_run(request).ok();
    }
    case ClipboardKind::kText: return put({"wl-copy", "--type", kUtf8Text}, data.text);
    case ClipboardKind::kFiles: return put({"wl-copy", "--type", kUriList}, clipboard_uri_list(data.files));
    case ClipboardKind::kImage: return put({"wl-copy", "--type", data.image_type}, data.image);
  }
  return false;
}

// xclip cannot give the selection up: empty text stands for nothing. It
// forks before it takes the selection, so when it returns the selection may
// still be another's; a read right after the write would see the old content.
// The write is settled once the selection serves what was put (or another
// program has taken it for the whole time limit).
bool write_x11(const ClipboardData& data) {
  std::string type = kX11Text;
  std::string bytes;
  switch (data.kind) {
    case ClipboardKind::kNothing: break;
    case ClipboardKind::kText: bytes = data.text; break;
    case ClipboardKind::kFiles:
      type = kUriList;
      bytes = clipboard_uri_list(data.files);
      break;
    case ClipboardKind::kImage:
      type = data.image_type;
      bytes = data.image;
      break;
  }
  if (!put({"xclip", "-selection", "clipboard", "-t", type, "-i"}, bytes)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kToolSilenceMs);
  for (auto pause = std::chrono::milliseconds(1);;
       pause = std::min(pause * 2, std::chrono::milliseconds(50))) {
    ToolResult served = xclip_fetch(type);
    if (served.ok() && served.output == bytes) return true;
    if (std::chrono::steady_clock::now() + pause > deadline) return true;
    std::this_thread::sleep_for(pause);
  }
}

// ---------------------------------------------------------------- formats

constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool unreserved_q(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~' || c == '/';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// [s] with each "%" and two hexadecimal digits turned into its byte; any
// other "%" stays as it is.
std::string percent_decode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    int hi = -1, lo = -1;
    if (s[i] == '%' && i + 2 < s.size() && (hi = hex_value(s[i + 1])) >= 0 &&
        (lo = hex_value(s[i + 2])) >= 0) {
      out += char(hi << 4 | lo);
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

}  // namespace

ClipboardTool clipboard_tool() {
  if (env_set_q("WAYLAND_DISPLAY") && tool_on_path_q("wl-copy") && tool_on_path_q("wl-paste"))
    return ClipboardTool::kWayland;
  if (env_set_q("DISPLAY") && tool_on_path_q("xclip")) return ClipboardTool::kX11;
  return ClipboardTool::kInProcess;
}

bool clipboard_read(ClipboardData* data) {
  *data = ClipboardData();
  switch (clipboard_tool()) {
    case ClipboardTool::kWayland: return read_wayland(data);
    case ClipboardTool::kX11: return read_x11(data);
    case ClipboardTool::kInProcess: *data = g_kept; return true;
  }
  return false;
}

bool clipboard_write(const ClipboardData& data) {
  switch (clipboard_tool()) {
    case ClipboardTool::kWayland: return write_wayland(data);
    case ClipboardTool::kX11: return write_x11(data);
    case ClipboardTool::kInProcess:
      g_kept = data;
      if (g_kept.kind == ClipboardKind::kText && g_kept.text.empty()) g_kept.kind = ClipboardKind::kNothing;
      return true;
  }
  return false;
}

std::string clipboard_repair_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const uint8_t c = uint8_t(s[i]);
    if (c < 0x80) {
      out += char(c);
      i++;
      continue;
    }
    size_t n = 0;  // continuation bytes
    uint32_t cp = 0, least = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1Fu, least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0Fu, least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07u, least = 0x10000;
    } else {
      out += kReplacement;
      i++;
      continue;
    }
    size_t j = 1;
    for (; j <= n && i + j < s.size() && (uint8_t(s[i + j]) & 0xC0) == 0x80; j++)
      cp = cp << 6 | (s[i + j] & 0x3Fu);
    const bool whole = j > n;
    const bool valid =
        whole && cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE;
    if (valid)
      out.append(s.substr(i, j));
    else
      out += kReplacement;
    i += j;
  }
  return out;
}

std::string clipboard_uri_list(const std::vector<std::string>& files) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string list;
  for (const std::string& path : files) {
    list += "file://";
    for (char ch : path) {
      const uint8_t b = uint8_t(ch);
      if (unreserved_q(b)) {
        list += ch;
      } else {
        list += '%';
        list += kHex[b >> 4];
        list += kHex[b & 15];
      }
    }
    list += "\r\n";
  }
  return list;
}

std::string clipboard_bmp_file(std::string_view bytes) {
  auto u16 = [&](size_t at) { return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8; };
  auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
  if (bytes.size() < 16 || bytes.substr(0, 2) == "BM") return std::string(bytes);
  const uint32_t header = u32(0);
  const bool core = header == 12;
  if (!core && header != 40 && header != 52 && header != 56 && header != 108 && header != 124)
    return std::string(bytes);
  if (bytes.size() < header) return std::string(bytes);
  const uint32_t bits = core ? u16(10) : u16(14);
  uint64_t masks = 0, colours = 0;
  if (!core) {
    // A 40-byte header is followed by its bit masks; the longer ones hold them.
    const uint32_t compression = u32(16);
    if (header == 40) masks = compression == 3 ? 12 : compression == 6 ? 16 : 0;
    colours = u32(32);
  }
  if (colours == 0 && bits <= 8) colours = uint64_t(1) << bits;
  const uint64_t offset = 14 + uint64_t(header) + masks + colours * (core ? 3 : 4);
  const uint64_t total = 14 + uint64_t(bytes.size());
  if (offset > total || total > UINT32_MAX) return std::string(bytes);
  std::string file = "BM";
  for (uint64_t v : {total, uint64_t(0), offset})
    for (int i = 0; i < 4; i++) file += char(v >> (8 * i) & 0xFF);
  file.append(bytes);
  return file;
}

std::vector<std::string> clipboard_parse_uri_list(std::string_view list) {
  std::vector<std::string> files;
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find('\n', at);
    if (end == std::string_view::npos) end = list.size();
    std::string_view line = list.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 5 || line[0] == '#' || type_key(line.substr(0, 5)) != "file:") continue;
    std::string_view rest = line.substr(5);
    if (rest.substr(0, 2) == "//") {
      const size_t path_at = rest.find('/', 2);
      if (path_at == std::string_view::npos) continue;
      const std::string host = type_key(rest.substr(2, path_at - 2));
      if (!host.empty() && host != "localhost") continue;
      rest = rest.substr(path_at);
    }
    // A query or fragment is no part of the path ("?" and "#" in names are escaped).
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.empty() || rest[0] != '/') continue;
    std::string path = percent_decode(rest);
    if (path.find('\0') != std::string::npos) continue;
    files.push_back(clipboard_repair_utf8(path));
  }
  return files;
}

}  // namespace kiv
