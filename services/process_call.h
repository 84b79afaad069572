// Other programs from Kiv: the natives call and browse, over
// platform/child_process.h.
//
// call runs a command. A string! splits into words at blanks and tabs
// (command_words), the first naming the program, looked up in PATH; when no
// such program exists the whole text runs once through `/bin/sh -c` instead
// (the shell-used case). /shell always runs the text so. A file! is one path,
// run as it is. The child's streams not redirected go to /dev/null, or with
// /console stay this process's own. /input gives it a string! (as UTF-8), the
// bytes of a binary! from its head, or a file! to read; /output and /error
// append to a file! (created when missing) or collect into a string! (the
// text appended, CR LF and lone CR as LF) or a binary! (the bytes inserted at
// its head). Captured text must be UTF-8: in plain mode a bad sequence raises
// access invalid-utf8; with /console, /shell or the shell-used case each bad
// byte becomes U+FFFD. Any redirection, and /console, make call wait: the
// result is then the exit status (128 + n after death by signal n), else the
// child's process id; -1 when a redirect file cannot be opened or the program
// cannot start (nothing runs then). /show changes nothing here. A command or
// a path holding NUL raises script invalid-arg before anything is opened or
// started.
//
// browse hands a url! or file! (its absolute path) to `xdg-open` as its one
// argument, through no shell, and does not wait; when xdg-open cannot start
// it raises access cannot-open.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// The words of the command line [text]: blanks and tabs separate them; a
// double quote starts or ends a quoted run in which blanks are kept (so ""
// gives an empty word), and "" inside a quoted run is one quote; n
// backslashes before a quote give n / 2 backslashes, and the quote itself
// when n is odd; other backslashes stay as they are.
std::vector<std::string> command_words(std::string_view text);

// Installs call and browse in the natives table (a start-up step).
void process_call_init();

}  // namespace kiv
