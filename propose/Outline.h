#pragma once

#include "propose/QpdfSource.h"

#include <string>
#include <vector>

namespace propose {

// One outline item that leads to a page of its document.
struct OutlineTarget {
    int page = 0;  // 1-based
    int level = 1; // 1 for the top level
    std::string title;
    QPDFObjGen item; // the item's own object
};

// The items of `source`'s outline down to `maxLevel`, in outline order, each with the page its
// destination (an array, a named destination or a GoTo action) leads to; items leading to no
// page of the document are left out. The outline is repaired in `source` where a chain of
// items leads back into itself.
std::vector<OutlineTarget> ReadOutline(QpdfSource& source, int maxLevel);

} // namespace propose
