// The print-hook lists (print_hooks.h). Single-threaded module state; a
// printer must not print through the same path while it runs.
#include "services/print_hooks.h"

#include <algorithm>
#include <vector>

#include "evaluator/print_output.h"
#include "services/console_output.h"

namespace kiv {

namespace {

std::vector<StringPrinter> g_string_printers;
std::vector<TextPrinter> g_text_printers;

template <class T>
void remove_first(std::vector<T>& list, T entry) {
  auto it = std::find(list.begin(), list.end(), entry);
  if (it != list.end()) list.erase(it);
}

}  // namespace

void init_print_hooks() {
  g_string_printers.clear();
  g_text_printers.clear();
  g_string_printers.reserve(5);
  g_text_printers.reserve(5);
  g_string_printers.push_back(print_string_stdout);
}

void add_print_hooks(StringPrinter string_printer, TextPrinter text_printer) {
  if (string_printer) g_string_printers.push_back(string_printer);
  if (text_printer) g_text_printers.push_back(text_printer);
}

void remove_print_hooks(StringPrinter string_printer, TextPrinter text_printer) {
  if (string_printer) remove_first(g_string_printers, string_printer);
  if (text_printer) remove_first(g_text_printers, text_printer);
}

void call_string_printers(const Cell* text, bool newline) {
  // A printer may add or remove printers: walk a copy of the list.
  std::vector<StringPrinter> list = g_string_printers;
  for (StringPrinter p : list) p(text, newline);
}

void call_text_printers(const char* text, size_t n, int flag) {
  std::vector<TextPrinter> list = g_text_printers;
  for (TextPrinter p : list) p(text, n, flag);
}

void print_string_stdout(const Cell* text, bool newline) { conout_write_string(text, newline); }

}  // namespace kiv
