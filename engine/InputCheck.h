#pragma once

#include "core/Prompter.h"
#include "engine/Automation.h"
#include "engine/Pump.h"

#include <string>
#include <vector>

namespace engine {

// The bookmark titles collected from the current job's source.
class CBookmarkTitles {
  public:
    static constexpr size_t kLimit = 10000;
    static constexpr size_t kTitleMax = 254;

    void Clear() { m_titles.clear(); }
    size_t Count() const { return m_titles.size(); }
    const std::vector<std::string>& Titles() const { return m_titles; }
    // False when the limit is reached; a title is cut to kTitleMax characters.
    bool Add(std::string title);

  private:
    std::vector<std::string> m_titles;
};

// Checks that the source can be read and, in the same pass over its bytes, collects every
// outline title written as "/Title (" right after a carriage return. False (after saying so)
// when the file cannot be opened. Past the limit the titles are not kept, and that is said
// once for the job.
bool CheckInputAndCollectTitles(const std::string& path, CBookmarkTitles& titles,
                                core::Prompter& prompter);

// Removes from `document` every outline item named by a collected title.
void RemoveBookmarks(Automation& automation, PDDoc& document, const CBookmarkTitles& titles,
                     Pump& pump);

} // namespace engine
