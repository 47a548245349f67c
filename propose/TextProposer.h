#pragma once

#include "propose/Proposal.h"

#include <string>

namespace propose {

// Why `pattern` is no regular expression (ECMAScript syntax), or "" when it is one.
std::string PatternProblem(const std::string& pattern);

// A page whose text matches `pattern` (ECMAScript syntax; ^ and $ also match at line ends)
// starts a part, named by the first capture group of the first match, or by the whole match
// when the pattern has no group; pages before the first match make a part without a name.
// Fails when the file cannot be read, the pattern is no regular expression, or no page
// matches.
Proposal ProposeAtText(const std::string& path, const std::string& pattern,
                       const Progress& progress = {});

} // namespace propose
