// libFuzzer target of parse-url: any text is parsed, plain and with
// /throw-error, as a string! and as a url!; what parses is built back with
// encode-url. Every outcome must be a value or a Kiv error: never a crash, a
// hang or a sanitizer report. tests/unit/fuzz_seeds_test.cpp runs the
// seeds of fuzz/corpus/url_fuzz/ as ordinary tests.
#include "fuzz/library_call.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv::fuzz::call_on_text(R"(func [text /local parts][
    parse-url/throw-error to url! text
    parts: parse-url text
    if object? parts [encode-url parts]
    any [none? parts object? parts]
])",
                          data, size);
  return 0;
}
