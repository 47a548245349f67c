#pragma once

#include <memory>
#include <string>

namespace poppler {
class document;
}

namespace propose {

// `path` (a regular file only) opened by poppler for rendering and text, quietly: poppler's
// complaints about damaged files are not the user's business here. Null with `failure` set
// when it cannot be read or needs a password.
std::unique_ptr<poppler::document> OpenPopplerDocument(const std::string& path,
                                                       std::string& failure);

} // namespace propose
