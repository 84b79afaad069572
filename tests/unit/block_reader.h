// A small reader of block text for the tests, while there is no lexer: words
// of the six kinds (as scan_word_text sees them), integers, "strings" without
// escapes, [blocks] and (parens), separated by blanks. Enough to write spec
// and body blocks as text in tables of cases.
#pragma once

#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "kiv_test.h"

namespace kiv::test {

// MAY ALLOCATE. The block [text] reads as, pushed on the data stack (nested
// blocks stay rooted through it).
inline Cell* read_block(std::string_view text) {
  Cell* out = block_of({});
  std::vector<Cell*> open{out};
  size_t i = 0;
  auto delimiter = [](char c) { return c == ' ' || c == '[' || c == ']' || c == '(' || c == ')'; };
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ') {
      i++;
    } else if (c == '[' || c == '(') {
      Cell* nested = block_of({}, c == '[' ? kTypeBlock : kTypeParen);
      block_append_value(open.back(), nested);
      open.push_back(nested);
      i++;
    } else if (c == ']' || c == ')') {
      if (open.size() > 1) open.pop_back();
      i++;
    } else if (c == '"') {
      size_t end = text.find('"', i + 1);
      if (end == std::string_view::npos) end = text.size();
      Cell* s = push_text(text.substr(i + 1, end - i - 1));
      block_append_value(open.back(), s);
      i = end + 1;
    } else {
      size_t end = i;
      while (end < text.size() && !delimiter(text[end])) end++;
      std::string token(text.substr(i, end - i));
      i = end;
      bool number = std::isdigit(static_cast<unsigned char>(token.back())) &&
                    token.find_first_not_of("-0123456789") == std::string::npos;
      Cell value;
      WordScan scan;
      if (number) {
        value = integer_cell(std::stoi(token));
      } else if (scan_word_text(token, &scan)) {
        value = word(token.substr(scan.name_start, scan.name_length).c_str(), scan.type);
      } else {
        ADD_FAILURE() << "read_block cannot read " << token;
        continue;
      }
      block_append_value(open.back(), &value);
    }
  }
  return out;
}

}  // namespace kiv::test
