#pragma once

#include <cstddef>

namespace engine {

struct ParsedSource;
class CQpdfSession;

// Pages that share one resource dictionary (often inherited from the page tree) would each
// bring every font and image of it; each source page is trimmed to what its content uses,
// once per parse, before its first copy.
void TrimPageResources(ParsedSource& source, size_t index, CQpdfSession& session);

} // namespace engine
