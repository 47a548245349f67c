#pragma once

#include "core/RangeList.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace propose {

// Told how far a proposer has come (pages settled of all pages); returning false asks it to
// stop. Called from the thread the proposer runs on.
using Progress = std::function<bool(int done, int total)>;

// What a proposer read from a document: ranges in page order, one name per range when the
// mode gives names, and remarks worth telling the user. `failure` says why there is nothing
// to propose (the file cannot be read, nothing to cut at); the ranges are then empty.
struct Proposal {
    std::vector<core::PageRange> ranges;
    std::vector<std::string> names; // empty, or one per range
    std::vector<std::string> notes;
    std::string failure;
    bool cancelled = false;

    bool Ok() const { return failure.empty() && !cancelled; }
    // The split-parameter string: "a-b" or "a" items, comma-separated.
    std::string Parameters() const;
};

// A part starts at `page` (1-based) under `name`.
struct PartStart {
    int page = 0;
    std::string name;
};

// Parts cut before each start (in page order, the first name kept when several start on one
// page), with pages before the first start as a leading part without a name. Names are made
// safe file names and unique.
Proposal PartsFromStarts(int pages, std::vector<PartStart> starts);

// n with its digits grouped in threes: 1,234,567.
std::string Thousands(int64_t n);

// Turns down a proposal of more parts than one job holds: split and a run would refuse its
// string.
void RefuseMoreThanAJob(Proposal& proposal);

// The message for a file no reader takes.
std::string UnreadableMessage(const std::string& path);

// Parts made of the runs of pages that are not separators; separators belong to no part.
Proposal PartsBetweenSeparators(const std::vector<bool>& separator);

} // namespace propose
