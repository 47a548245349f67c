#include "engine/QpdfAutomation.h"

#include "engine/Outline.h"
#include "engine/PartDocument.h"
#include "engine/QpdfSession.h"

namespace engine {

namespace {

// A document of the automation: a source handed out by a view, or a part after Create().
class QpdfPDDoc final : public PDDoc {
  public:
    explicit QpdfPDDoc(std::shared_ptr<CQpdfSession> session,
                       std::shared_ptr<ParsedSource> source = nullptr)
        : m_session(session), m_source(std::move(source)), m_part(std::move(session)) {}

    bool Create() override {
        m_source.reset();
        m_part.Create();
        return true;
    }

    bool InsertPages(int32_t insertAfter, PDDoc& sourceDoc, int32_t firstPage, int32_t count,
                     bool withBookmarks) override {
        auto* from = dynamic_cast<QpdfPDDoc*>(&sourceDoc);
        if (!m_part.Document() || !from || !from->m_source)
            return false;
        return m_part.Insert(insertAfter, from->m_source, firstPage, count, withBookmarks);
    }

    bool DeletePages(int32_t firstPage, int32_t lastPage) override {
        return m_part.DeletePages(firstPage, lastPage);
    }

    int32_t GetNumPages() override {
        const int32_t pages = m_part.PageCount();
        if (pages >= 0)
            return pages;
        return m_source ? static_cast<int32_t>(m_source->pages.size()) : 0;
    }

    bool Save(int16_t, const std::string& path) override { return m_part.Save(path); }

    bool Close() override {
        m_part.Close();
        m_source.reset();
        return true;
    }

    CPartDocument& Part() { return m_part; }
    const std::shared_ptr<ParsedSource>& Source() const { return m_source; }

  private:
    std::shared_ptr<CQpdfSession> m_session;
    std::shared_ptr<ParsedSource> m_source; // a document handed out by a view
    CPartDocument m_part;                   // a document made by Create()
};

class QpdfAVDoc final : public AVDoc {
  public:
    explicit QpdfAVDoc(std::shared_ptr<CQpdfSession> session) : m_session(std::move(session)) {}
    ~QpdfAVDoc() override { Close(true); }

    bool Open(const std::string& path, const std::string&) override {
        Close(true);
        m_source = m_session->OpenSource(path);
        if (!m_source)
            return false;
        m_session->MarkOpen(m_source->stamp);
        return true;
    }

    std::shared_ptr<PDDoc> GetPDDoc() override {
        if (!m_source)
            return nullptr;
        return std::make_shared<QpdfPDDoc>(m_session, m_source);
    }

    bool Close(bool) override {
        if (!m_source)
            return false;
        m_session->MarkClosed(m_source->stamp);
        m_source.reset();
        return true;
    }

  private:
    std::shared_ptr<CQpdfSession> m_session;
    std::shared_ptr<ParsedSource> m_source;
};

class QpdfApp final : public App {
  public:
    explicit QpdfApp(std::shared_ptr<CQpdfSession> session) : m_session(std::move(session)) {}
    bool Exit() override {
        m_session->Exit();
        return true;
    }
    bool CloseAllDocs() override {
        m_session->CloseAllViews();
        return true;
    }
    void PlanParts(const std::string& source, const std::vector<PlannedPart>& parts) override {
        m_session->PlanParts(source, parts);
    }

  private:
    std::shared_ptr<CQpdfSession> m_session;
};

class QpdfBookmark final : public PDBookmark {
  public:
    explicit QpdfBookmark(std::shared_ptr<CQpdfSession> session) : m_session(std::move(session)) {}

    bool GetByTitle(PDDoc& document, const std::string& title) override {
        m_item = QOH();
        try {
            return Find(document, title);
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot look up a bookmark: ") + e.what());
            m_item = QOH();
            return false;
        }
    }

    bool Destroy() override {
        if (!m_item.isInitialized())
            return false;
        try {
            return Unlink();
        } catch (const std::exception& e) {
            m_session->Warn(std::string("cannot remove a bookmark: ") + e.what());
            m_item = QOH();
            return false;
        }
    }

  private:
    bool Find(PDDoc& document, const std::string& title) {
        auto* doc = dynamic_cast<QpdfPDDoc*>(&document);
        if (!doc || !doc->Part().Document())
            return false;
        m_outlines = doc->Part().Document()->getRoot().getKey("/Outlines");
        if (!m_outlines.isDictionary())
            return false;
        m_item = FindOutlineItem(m_outlines, title);
        if (!m_item.isInitialized())
            return false;
        m_steps = doc->Part().Steps();
        m_title = title;
        return true;
    }

    bool Unlink() {
        const bool removed = UnlinkOutlineItem(m_outlines, m_item);
        m_item = QOH();
        if (auto steps = m_steps.lock(); removed && steps)
            steps->push_back({PartStep::Kind::RemoveBookmark, 0, 0, 0, false, nullptr, m_title});
        return removed;
    }

    std::shared_ptr<CQpdfSession> m_session;
    QOH m_outlines;
    QOH m_item;
    std::weak_ptr<PartSteps> m_steps; // of the document the item was found in
    std::string m_title;
};

} // namespace

CQpdfAutomation::CQpdfAutomation(core::Trace& trace)
    : m_trace(trace), m_shared(std::make_shared<Shared>()) {}

CQpdfAutomation::~CQpdfAutomation() = default;

std::shared_ptr<CQpdfSession> CQpdfAutomation::Session() {
    auto session = m_session.lock();
    if (!session) {
        session = std::make_shared<CQpdfSession>(m_trace, m_shared);
        m_session = session;
    }
    return session;
}

std::shared_ptr<AutomationObject> CQpdfAutomation::CreateObject(const std::string& progId,
                                                                std::string& failureText) {
    if (progId == App::kProgId)
        return std::make_shared<QpdfApp>(Session());
    if (progId == AVDoc::kProgId) {
        auto session = Session();
        auto view = std::make_shared<QpdfAVDoc>(session);
        session->Register(view);
        return view;
    }
    if (progId == PDDoc::kProgId)
        return std::make_shared<QpdfPDDoc>(Session());
    if (progId == PDBookmark::kProgId)
        return std::make_shared<QpdfBookmark>(Session());
    failureText = "Invalid class string: " + progId;
    return nullptr;
}

bool CQpdfAutomation::SavePartToMemory(PDDoc& part, std::string& bytes,
                                       std::shared_ptr<PartEnd>* end) {
    auto* doc = dynamic_cast<QpdfPDDoc*>(&part);
    return doc && doc->Part().SaveToMemory(bytes, end);
}

bool CQpdfAutomation::CountPartBytes(PDDoc& part, size_t& bytes, bool& classic) {
    auto* doc = dynamic_cast<QpdfPDDoc*>(&part);
    return doc && doc->Part().CountBytes(bytes, classic);
}

std::shared_ptr<ParsedSource> CQpdfAutomation::SourceOf(PDDoc& document) {
    auto* doc = dynamic_cast<QpdfPDDoc*>(&document);
    return doc ? doc->Source() : nullptr;
}

int CQpdfAutomation::ParseCount() const {
    return m_shared->parseCount;
}

int CQpdfAutomation::DocumentsBuilt() const {
    return m_shared->documentsBuilt;
}

std::vector<std::string> CQpdfAutomation::Warnings() const {
    return m_shared->warnings;
}

} // namespace engine
