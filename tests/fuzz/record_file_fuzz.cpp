// The record files of the settings and the address book: one record, then whole files, loaded,
// written and loaded again.
#include <cstdint>

#include "tests/fuzz/record_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    record_fuzz::checkRecordFile(data, size);
    return 0;
}
