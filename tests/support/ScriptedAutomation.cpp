#include "tests/support/ScriptedAutomation.h"

#include <fstream>

namespace testing_support {

namespace {

class ScriptedDoc final : public engine::PDDoc {
  public:
    ScriptedDoc(CScriptedAutomation& owner, std::string name, int pages)
        : m_owner(owner), m_name(std::move(name)), m_pages(pages) {}

    bool Create() override {
        m_pages = 0;
        return Call("Create", "", 1);
    }
    bool InsertPages(int32_t after, engine::PDDoc& source, int32_t first, int32_t count,
                     bool bookmarks) override {
        auto* from = dynamic_cast<ScriptedDoc*>(&source);
        std::string args = std::to_string(after) + ", " + (from ? from->m_name : "?") + ", " +
                           std::to_string(first) + ", " + std::to_string(count) + ", " +
                           std::to_string(bookmarks ? 1 : 0);
        bool ok = Call("InsertPages", args, 1);
        if (ok)
            m_pages += count;
        return ok;
    }
    bool DeletePages(int32_t first, int32_t last) override {
        bool ok = Call("DeletePages", std::to_string(first) + ", " + std::to_string(last), 1);
        if (ok)
            m_pages -= last - first + 1;
        return ok;
    }
    int32_t GetNumPages() override { return Call("GetNumPages", "", m_pages); }
    bool Save(int16_t flags, const std::string& path) override {
        bool ok = Call("Save", std::to_string(flags) + ", " + path, 1);
        if (ok && m_owner.saveWritesFiles)
            std::ofstream(path, std::ios::binary) << "%PDF-1.4 scripted\n";
        return ok;
    }
    bool Close() override { return Call("Close", "", 1); }

  private:
    int Call(const std::string& method, const std::string& args, int fallback) {
        return m_owner.Answer(m_name + "." + method, m_name + "." + method + "(" + args + ")",
                              fallback);
    }

    CScriptedAutomation& m_owner;
    std::string m_name;
    int m_pages;
};

class ScriptedView final : public engine::AVDoc {
  public:
    explicit ScriptedView(CScriptedAutomation& owner) : m_owner(owner) {}
    bool Open(const std::string& path, const std::string& title) override {
        return m_owner.Answer("AVDoc.Open", "AVDoc.Open(" + path + ", " + title + ")", 1);
    }
    std::shared_ptr<engine::PDDoc> GetPDDoc() override {
        m_owner.Answer("AVDoc.GetPDDoc", "AVDoc.GetPDDoc()", 1);
        return std::make_shared<ScriptedDoc>(m_owner, "SourceDoc", m_owner.sourcePages);
    }
    bool Close(bool noSave) override {
        return m_owner.Answer("AVDoc.Close",
                              std::string("AVDoc.Close(") + (noSave ? "1" : "0") + ")", 1);
    }

  private:
    CScriptedAutomation& m_owner;
};

class ScriptedApp final : public engine::App {
  public:
    explicit ScriptedApp(CScriptedAutomation& owner) : m_owner(owner) {}
    bool Exit() override { return m_owner.Answer("App.Exit", "App.Exit()", 1); }
    bool CloseAllDocs() override {
        return m_owner.Answer("App.CloseAllDocs", "App.CloseAllDocs()", 1);
    }

  private:
    CScriptedAutomation& m_owner;
};

class ScriptedBookmark final : public engine::PDBookmark {
  public:
    explicit ScriptedBookmark(CScriptedAutomation& owner) : m_owner(owner) {}
    bool GetByTitle(engine::PDDoc&, const std::string& title) override {
        return m_owner.Answer("Bookmark.GetByTitle", "Bookmark.GetByTitle(" + title + ")",
                              m_owner.bookmarkTitles.count(title) ? 1 : 0);
    }
    bool Destroy() override { return m_owner.Answer("Bookmark.Destroy", "Bookmark.Destroy()", 1); }

  private:
    CScriptedAutomation& m_owner;
};

} // namespace

CScriptedAutomation& CScriptedAutomation::Return(const std::string& method, int value, int nth) {
    m_rules.push_back({method, nth, value, Raise::None, {}});
    return *this;
}

CScriptedAutomation& CScriptedAutomation::Throw(const std::string& method, Raise kind,
                                                std::string text, int nth) {
    m_rules.push_back({method, nth, 0, kind, std::move(text)});
    return *this;
}

CScriptedAutomation& CScriptedAutomation::FailCreation(const std::string& progId, std::string text,
                                                       int nth) {
    m_creationFailures.push_back({progId, nth, std::move(text)});
    return *this;
}

CScriptedAutomation& CScriptedAutomation::Before(const std::string& method,
                                                 std::function<void()> action, int nth) {
    m_before.push_back({{method, nth}, std::move(action)});
    return *this;
}

std::vector<std::string> CScriptedAutomation::CallsOf(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& call : calls)
        if (call.rfind(prefix, 0) == 0)
            out.push_back(call);
    return out;
}

int CScriptedAutomation::Answer(const std::string& method, const std::string& record,
                                int fallback) {
    const int n = ++m_counts[method];
    for (auto& [when, action] : m_before)
        if (when.first == method && (when.second == 0 || when.second == n))
            action();
    calls.push_back(record);
    for (const Rule& rule : m_rules) {
        if (rule.method != method || (rule.nth != 0 && rule.nth != n))
            continue;
        if (rule.raise == Raise::Automation)
            throw engine::AutomationError(rule.text);
        if (rule.raise == Raise::Other)
            throw engine::OtherAutomationError(rule.text);
        return rule.value;
    }
    return fallback;
}

std::shared_ptr<engine::AutomationObject>
CScriptedAutomation::CreateObject(const std::string& progId, std::string& failureText) {
    const int n = ++m_counts["Create " + progId];
    calls.push_back("Create(" + progId + ")");
    for (const Creation& c : m_creationFailures) {
        if (c.progId == progId && (c.nth == 0 || c.nth == n)) {
            failureText = c.text;
            return nullptr;
        }
    }
    if (progId == engine::App::kProgId)
        return std::make_shared<ScriptedApp>(*this);
    if (progId == engine::AVDoc::kProgId)
        return std::make_shared<ScriptedView>(*this);
    if (progId == engine::PDDoc::kProgId)
        return std::make_shared<ScriptedDoc>(*this, "NewDoc", 0);
    if (progId == engine::PDBookmark::kProgId)
        return std::make_shared<ScriptedBookmark>(*this);
    failureText = "Invalid class string";
    return nullptr;
}

} // namespace testing_support
