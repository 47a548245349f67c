#pragma once

#include "core/Files.h"

#include <string>
#include <vector>

namespace propose {

// A names file as a proposal left it.
struct NamesFile {
    std::string list; // the job's file-list text ("file:PATH"); "" when nothing could be written
    std::string path; // the file, as `list` names it
    bool created = false;  // written now, rather than found holding these names already
    core::FileStamp stamp; // the file as written, when created
};

// Keeps proposed part names where a job's name list can take them whole (commas, leading
// spaces and all): a file of one name a line, "TITLE.names.txt" in the working folder (beside
// the batch files), TITLE being the source's title; "TITLE-2.names.txt", ... when a file of
// that name already holds other names. The job refers to it by its full path, so that a batch
// saved with it can be run from any folder. On failure `failure` says why and `list` is "".
NamesFile WriteNamesFile(const std::string& source, const std::vector<std::string>& names,
                         std::string& failure);

// True when the file-list text `list` names a file that WriteNamesFile gives the parts of
// `source`, in either form a job may hold (the full path, or the name alone as older batches
// have it).
bool IsNamesFileOf(const std::string& list, const std::string& source);

// The names files the proposals of one editing of a job created. Those whose names end up in no
// job (the editing was cancelled, or a later proposal replaced them) are removed again; a file
// found already holding the names is never counted here, since another job may use it.
class CWrittenNames {
  public:
    void Add(const NamesFile& file);
    // True when the file-list text `list` names a file counted here.
    bool Holds(const std::string& list) const;
    // Removes every file counted here that none of the file-list texts `kept` names, unless it
    // changed since it was written; forgets them all when `final`.
    void RemoveUnused(const std::vector<std::string>& kept, bool final);

  private:
    std::vector<NamesFile> m_files;
};

} // namespace propose
