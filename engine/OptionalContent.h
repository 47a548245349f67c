#pragma once

#include "engine/QpdfValues.h"

namespace engine {

struct ParsedSource;

// Gives a part the source's /OCProperties, trimmed to the optional content groups (layers)
// its pages use, so that a layer the source hides stays hidden: a document without them
// shows every layer. Nothing when the part's pages use none.
void WriteOptionalContent(QPDF& part, ParsedSource& source);

} // namespace engine
