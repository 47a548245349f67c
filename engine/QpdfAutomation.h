#pragma once

#include "core/Trace.h"
#include "engine/Automation.h"

#include <memory>
#include <string>
#include <vector>

namespace engine {

class CQpdfSession;
struct ParsedSource;
struct PartEnd;

// The document automation, done with qpdf. Objects created while another object of this
// automation is alive share one session (as they would share one running application): the
// current source, opened again unchanged, is served from its first parse; opening another
// source lets the previous parse (and its open file) go once no document uses it.
class CQpdfAutomation final : public Automation {
  public:
    explicit CQpdfAutomation(core::Trace& trace);
    ~CQpdfAutomation() override;

    std::shared_ptr<AutomationObject> CreateObject(const std::string& progId,
                                                   std::string& failureText) override;

    // Writes a part made by this automation's PDDoc (after Create and InsertPages) into
    // `bytes`, exactly as Save would write it to a file; false for any other document or on
    // failure. For measuring what a part would weigh without writing a file.
    // With `end`, the part's end may be left there, to be written after `bytes` by FinishPart.
    static bool SavePartToMemory(PDDoc& part, std::string& bytes,
                                 std::shared_ptr<PartEnd>* end = nullptr);
    // The size SavePartToMemory's bytes would have, counted without making them, and whether
    // the part has a classic cross-reference table; false when only SavePartToMemory can tell.
    static bool CountPartBytes(PDDoc& part, size_t& bytes, bool& classic);
    // The parsed source a PDDoc handed out by this automation's view stands for: its pages as
    // a split counts them. For reading only; null for any other document.
    static std::shared_ptr<ParsedSource> SourceOf(PDDoc& document);

    // How many sources were parsed (not served from a session's cache) so far.
    int ParseCount() const;
    // How many output documents were built (not taken over from an earlier part) so far.
    int DocumentsBuilt() const;
    // qpdf's first warnings; they never reach the terminal.
    std::vector<std::string> Warnings() const;

    struct Shared; // what the automation's sessions report back

  private:
    std::shared_ptr<CQpdfSession> Session();

    core::Trace& m_trace;
    std::weak_ptr<CQpdfSession> m_session;
    std::shared_ptr<Shared> m_shared;
};

} // namespace engine
