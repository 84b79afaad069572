// libFuzzer target of load-json: any text is decoded; what decodes is
// written back plain, /pretty and /ascii, and each writing must decode
// again. Every outcome must be a value or a Kiv error: never a crash, a hang
// or a sanitizer report. tests/unit/fuzz_seeds_test.cpp runs the seeds
// of fuzz/corpus/json_fuzz/ as ordinary tests.
#include "fuzz/library_call.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv::fuzz::call_on_text(R"(func [text /local value][
    value: load-json text
    any [
        error? :value
        all [
            not error? load-json to-json :value
            not error? load-json to-json/pretty :value "^-"
            not error? load-json to-json/ascii :value
        ]
    ]
])",
                          data, size);
  return 0;
}
