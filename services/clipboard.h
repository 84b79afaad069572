// The system clipboard, as text. Under a Wayland display (WAYLAND_DISPLAY set
// and wl-copy/wl-paste on PATH) it goes through those tools; under an X
// display (DISPLAY set and xclip on PATH) through `xclip -selection
// clipboard`; otherwise through a clipboard kept inside the process. The
// tools run by posix_spawn with pipes, never through a shell.
#pragma once

#include <string>

namespace kiv {

enum class ClipboardTool { kWayland, kX11, kInProcess };

// The backend the environment selects now.
ClipboardTool clipboard_tool();

enum class ClipboardRead { kFailed, kEmpty, kText };

// Reads the clipboard's text into *[text]. kEmpty when it holds nothing,
// kFailed when the tool could not be run or reported an error.
ClipboardRead clipboard_read(std::string* text);

// Puts [text] on the clipboard, or clears it when [text] is null. False when
// the tool could not be run or reported an error.
bool clipboard_write(const std::string* text);

}  // namespace kiv
