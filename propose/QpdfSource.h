#pragma once

#include <memory>
#include <string>
#include <vector>

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>

namespace propose {

// A source parsed by qpdf for reading only, with its pages.
struct QpdfSource {
    std::string bytes; // the file, when qpdf reads it from memory
    std::unique_ptr<QPDF> pdf;
    std::vector<QPDFObjectHandle> pages;
};

// Reads and parses `path` (a regular file only) quietly. Null with `failure` set when it is no
// readable PDF, needs a password, or its page tree nests too deep to walk. A small file is read
// into memory whole, unless `inMemory` is false: for a look at a few objects of each page.
std::unique_ptr<QpdfSource> OpenQpdfSource(const std::string& path, std::string& failure,
                                           bool inMemory = true);

} // namespace propose
