// libFuzzer target of load-csv: any text is read in one of its ways, chosen
// by its first character (plain, with /header, /as-records, /flat, /trim
// and a ";" delimiter, /as-columns and a "'" quote); rows read plain are
// written by to-csv and must read back the same. Every outcome must be a
// value or a Kiv error: never a crash, a hang or a sanitizer report.
// tests/unit/fuzz_seeds_test.cpp runs the seeds of fuzz/corpus/csv_fuzz/
// as ordinary tests.
#include "fuzz/library_call.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kiv::fuzz::call_on_text(R"(func [text /local rows][
    rows: none
    switch either empty? text [0][remainder to integer! first text 6] [
        1 [load-csv/header text]
        2 [load-csv/as-records text]
        3 [load-csv/flat text]
        4 [load-csv/trim/with text ";"]
        5 [load-csv/as-columns/quote text #"'"]
        0 [rows: load-csv text]
    ]
    any [
        not block? rows
        empty? rows
        rows == load-csv to-csv rows
    ]
])",
                          data, size);
  return 0;
}
