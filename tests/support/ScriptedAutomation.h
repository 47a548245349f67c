#pragma once

#include "engine/Automation.h"

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

// An automation for tests: every call is recorded as text ("AVDoc.Open(/in/a.pdf, )"), results
// follow plain defaults unless a rule says otherwise, and creations or calls can be made to fail.
//
// Method names: App.Exit, App.CloseAllDocs, AVDoc.Open, AVDoc.GetPDDoc, AVDoc.Close,
// SourceDoc.* (documents handed out by AVDoc.GetPDDoc), NewDoc.* (documents created by ProgID:
// Create, InsertPages, DeletePages, GetNumPages, Save, Close), Bookmark.GetByTitle,
// Bookmark.Destroy.
class CScriptedAutomation final : public engine::Automation {
  public:
    enum class Raise { None, Automation, Other };

    struct Rule {
        std::string method;
        int nth = 0; // 0: every call; n: only the n-th call of that method
        int value = 1;
        Raise raise = Raise::None;
        std::string text;
    };

    // Results.
    CScriptedAutomation& Return(const std::string& method, int value, int nth = 0);
    CScriptedAutomation& Throw(const std::string& method, Raise kind, std::string text,
                               int nth = 0);
    // The nth creation (1-based; 0 = every) of progId fails with `text`.
    CScriptedAutomation& FailCreation(const std::string& progId, std::string text, int nth = 0);
    // Runs `action` just before the nth call of `method` (0 = every call) is answered.
    CScriptedAutomation& Before(const std::string& method, std::function<void()> action,
                                int nth = 0);

    // Defaults: a source has this many pages; a new document has what was inserted into it.
    int sourcePages = 10;
    // Save writes a small file at the path, so that what follows a save finds a file.
    bool saveWritesFiles = true;
    // Titles GetByTitle finds.
    std::set<std::string> bookmarkTitles;

    std::vector<std::string> calls;
    // Calls whose text starts with `prefix`.
    std::vector<std::string> CallsOf(const std::string& prefix) const;

    std::shared_ptr<engine::AutomationObject> CreateObject(const std::string& progId,
                                                           std::string& failureText) override;

    // Used by the scripted objects.
    int Answer(const std::string& method, const std::string& record, int fallback);

  private:
    std::vector<Rule> m_rules;
    struct Creation {
        std::string progId;
        int nth;
        std::string text;
    };
    std::vector<Creation> m_creationFailures;
    std::vector<std::pair<std::pair<std::string, int>, std::function<void()>>> m_before;
    std::map<std::string, int> m_counts;
};

} // namespace testing_support
