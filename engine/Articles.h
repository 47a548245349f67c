#pragma once

#include "engine/ParsedSource.h"

namespace engine {

// Every bead of the threads a document's catalog lists, by its place in its thread's reading
// order (from the thread's first bead along /N); a chain that loops ends where it does.
ObjGenMap<int> ReadBeadOrder(QPDF& pdf);

// Gives a part the articles (threads of beads) that run through its pages: each thread keeps
// the beads on the part's pages, chained in the source's reading order, and the catalog lists
// it, so a reader follows the article through the part. Beads on other pages, which copying a
// page drags along through the chain, are left behind. Rebuilt from the source each time, so
// it may run again before every write.
void WriteArticles(QPDF& part, const ObjGenMap<PageOrigin>& origins);

} // namespace engine
