// libFuzzer target of load-csv: any text is read plain, with /header,
// /as-records, /flat, /trim and a ";" delimiter; rows read plain are
// written by to-csv and must read back the same. Every outcome must be a
// value or a Kiv error: never a crash, a hang or a sanitizer report.
// tests/unit/fuzz_seeds_test.cpp runs the seeds of
// fuzz/corpus/csv_fuzz/ as ordinary tests.
#include "fuzz/library_call.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv::fuzz::call_on_text(R"(func [text /local rows][
    attempt [load-csv/header text]
    attempt [load-csv/as-records text]
    load-csv/flat text
    load-csv/trim/with text ";"
    load-csv/as-columns/quote text #"'"
    rows: load-csv text
    any [
        error? rows
        empty? rows
        rows == load-csv to-csv rows
    ]
])",
                          data, size);
  return 0;
}
