#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace engine {

// A call into the document automation failed with an error the automation layer itself
// describes; the text is meant for the user.
class AutomationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Any other error a call can raise (such as one the PDF application reports by itself).
class OtherAutomationError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class AutomationObject {
  public:
    virtual ~AutomationObject();
};

// A PDF document: a source handed out by an opened view, or a new document after Create().
// Page numbers are 0-based.
class PDDoc : public AutomationObject {
  public:
    static constexpr const char* kProgId = "AcroExch.PDDoc";
    static constexpr int16_t kSaveFull = 1;
    static constexpr int16_t kSaveCollectGarbage = 32;

    virtual bool Create() = 0;
    // Copies `count` pages of `source` from `firstPage` on, placing them after page
    // `insertAfter` (-1: at the start).
    virtual bool InsertPages(int32_t insertAfter, PDDoc& source, int32_t firstPage, int32_t count,
                             bool withBookmarks) = 0;
    virtual bool DeletePages(int32_t firstPage, int32_t lastPage) = 0;
    // 0 for a document that cannot be read.
    virtual int32_t GetNumPages() = 0;
    virtual bool Save(int16_t flags, const std::string& path) = 0;
    virtual bool Close() = 0;
};

// A document opened for viewing.
class AVDoc : public AutomationObject {
  public:
    static constexpr const char* kProgId = "AcroExch.AVDoc";
    virtual bool Open(const std::string& path, const std::string& tempTitle) = 0;
    // The opened file as a PDDoc; null when nothing is open.
    virtual std::shared_ptr<PDDoc> GetPDDoc() = 0;
    virtual bool Close(bool noSave) = 0;
};

// One part a job is about to write: its pages (1-based, inclusive) and its file name.
struct PlannedPart {
    int32_t first = 0;
    int32_t last = 0;
    std::string fileName;
    std::string folder; // where the part is written; empty when not known
};

// The PDF application.
class App : public AutomationObject {
  public:
    static constexpr const char* kProgId = "AcroExch.App";
    virtual bool Exit() = 0;
    virtual bool CloseAllDocs() = 0;
    // The parts the coming job makes of `source`, in the job's order, all in one folder: a
    // link on a part's page that leads to a page of another part then opens that part. An
    // empty list forgets the plan. An application that cannot link parts ignores it.
    virtual void PlanParts(const std::string& source, const std::vector<PlannedPart>& parts);
};

// An outline item of a document.
class PDBookmark : public AutomationObject {
  public:
    static constexpr const char* kProgId = "AcroExch.PDBookmark";
    // True when the object now stands for an item of exactly that title.
    virtual bool GetByTitle(PDDoc& document, const std::string& title) = 0;
    // Removes the item it stands for, with everything below it.
    virtual bool Destroy() = 0;
};

// Creates the objects above by their ProgIDs. Objects created by one automation share its
// application: documents opened through one view can be inserted into another's documents.
class Automation {
  public:
    virtual ~Automation();

    // Null, with `failureText` set, when the object cannot be created.
    virtual std::shared_ptr<AutomationObject> CreateObject(const std::string& progId,
                                                           std::string& failureText) = 0;

    template <typename T> std::shared_ptr<T> Create(std::string& failureText) {
        auto object = std::dynamic_pointer_cast<T>(CreateObject(T::kProgId, failureText));
        if (!object && failureText.empty())
            failureText = std::string("Cannot create ") + T::kProgId;
        return object;
    }
    template <typename T> std::shared_ptr<T> Create() {
        std::string ignored;
        return Create<T>(ignored);
    }
};

} // namespace engine
