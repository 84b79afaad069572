// libFuzzer target of load-json: any text is decoded; what decodes is
// written back plain, /pretty and /ascii, and each writing must decode
// again. Every outcome must be a value or a Kiv error: never a crash, a hang
// or a sanitizer report. tests/unit/data_fuzz_seeds_test.cpp runs the seeds
// of fuzz/corpus/json_fuzz/ as ordinary tests.
#include "fuzz/library_call.h"

namespace kiv::fuzz {

inline void json_fuzz_one(const uint8_t* data, size_t size) {
  call_on_text(R"(func [text /local value][
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
}

}  // namespace kiv::fuzz

#ifndef KIV_FUZZ_BODY_ONLY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv::fuzz::json_fuzz_one(data, size);
  return 0;
}
#endif
