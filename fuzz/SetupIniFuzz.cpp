// setup.ini as a user may have edited it. Input: the file's bytes.
#include "core/SetupOptions.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzzing::CScratchFile file;
    file.Write({reinterpret_cast<const char*>(data), size});
    core::SetupOptions loaded;
    core::LoadSetupOptions(loaded, file.Path());

    // Whatever was read, the file the program writes from it reads back as the same options.
    const std::string text = core::SetupOptionsText(loaded);
    file.Write(text);
    core::SetupOptions again;
    core::LoadSetupOptions(again, file.Path());
    FUZZ_CHECK(again == loaded);
    return 0;
}
