// Hand-over messages as any process of the user may send them to the window.
// Input: a message's body (after its length).
#include "fuzz/FuzzInput.h"
#include "ui/desktop/HandOverMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // A body read back is exactly what the encoder writes for those paths: nothing is taken
    // from beyond the bytes, and nothing there is skipped.
    if (const auto paths = ui::DecodeHandOver(body))
        FUZZ_CHECK(ui::EncodeHandOver(*paths).mid(4) == body);
    return 0;
}
