#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace testing_support {

// Runs `body` in a forked child whose files may not grow beyond `limitBytes` (as under
// `ulimit -f` or on a nearly full disk: a write past the limit fails with EFBIG instead of
// killing the child) and returns the text the body returned. The limit never reaches the test
// process itself. A child that dies or cannot be started gives a text that says so, which no
// expectation matches.
std::string InChildWithFileSizeLimit(size_t limitBytes, const std::function<std::string()>& body);

// The names in a directory, sorted, so a test can see that nothing was left beside a target.
std::string DirectoryListing(const std::string& path);

} // namespace testing_support
