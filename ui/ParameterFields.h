#pragma once

#include <cstdint>
#include <string>

namespace ui {

// The dialog object's fields, kept between openings (the caller sets what it wants first).
struct SplitParametersFields {
    std::string fileName;
    int32_t pages = 0;
    std::string splitParameters, moveTo, splitTo;
    std::string incrementName, usePagesName, keepBookmarks; // "Y"/"N"/""
    std::string fileList;
    int32_t incrementStart = 0, skipPages = 0, pageOffset = 0;
    bool useSame = false; // the use-same-parameters box
};

} // namespace ui
