#pragma once

#include "propose/PartNamer.h"
#include "propose/Proposal.h"

#include <cstdint>
#include <string>

namespace propose {

struct SizeLimit {
    int64_t maxBytes = 0;
    bool keepBookmarks = true; // as the job will split: with its bookmarks or without
    // How the job names its parts; a link to a page of a sibling part names that part's file.
    // Without it parts are measured as a job that plans no siblings writes them.
    PartNamer partNames = {};
    // The job's split-to folder: a part written elsewhere than beside its source names the
    // files its links open relative to its own folder, which changes its size. Empty: beside
    // the source.
    std::string folder = {};
};

// Groups consecutive pages greedily from the first: each part takes at most maxBytes as a split
// writes it, and would take more with the page after it. Both are measured on parts written by
// the engine exactly as a split writes them (into memory), never only estimated. A page that alone
// takes more is a part of its own, with a note.
Proposal ProposeBySize(const std::string& path, const SizeLimit& limit,
                       const Progress& progress = {});

} // namespace propose
