#pragma once

#include "engine/QpdfValues.h"

#include <string>
#include <utility>
#include <vector>

namespace engine {

struct ParsedSource;

// The source's form fields that have widgets on a range's pages, made for a part.
struct PendingForm {
    std::vector<QOH> fields;                           // top-level fields, in form order
    std::vector<std::pair<std::string, QOH>> defaults; // /DR, /DA, ... of a new form
    std::vector<QOH> calculated; // the form's calculation order, of fields copied now
};

// The source's form fields that have widgets on the range's pages (their values and button
// states come with them), each trimmed to those widgets, plus the form's defaults.
PendingForm PrepareForm(QPDF& part, ParsedSource& source, int32_t firstPage,
                        const std::vector<QOH>& added);
void CommitForm(QPDF& part, const PendingForm& pending);
// Form fields keep only the widgets that remain on the part's pages.
void TrimFieldsToPresentWidgets(QPDF& part);

} // namespace engine
