// Batch files (*.spl) as a user may have edited them. Input: the file's bytes.
#include "core/AddFile.h"
#include "core/JobList.h"
#include "fuzz/FuzzInput.h"
#include "storage/BatchFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const core::AddFileHooks hooks;
    core::CJobList list;
    storage::AddBatchRecords(text, list, hooks);

    // A batch file the program saves loads back as the very same jobs.
    const std::string saved = storage::BatchFileText(list);
    core::CJobList again;
    storage::AddBatchRecords(saved, again, hooks);
    FUZZ_CHECK(again.Count() == list.Count());
    for (int row = 0; row < list.Count(); ++row)
        FUZZ_CHECK(again.Row(row).cells == list.Row(row).cells);
    FUZZ_CHECK(storage::BatchFileText(again) == saved);
    return 0;
}
