#pragma once

#include "core/AddFile.h"
#include "core/FileDialogs.h"
#include "core/JobList.h"
#include "core/Prompter.h"

#include <functional>
#include <string>

namespace storage {

inline constexpr const char* kDefaultBatchFile = "default.spl";

// The four batch-file commands of the File menu and the batch file name they remember.
class CBatchCommands {
  public:
    struct Hooks {
        std::function<void(const std::string& title)> setTitle;
        std::function<void(int count)> showItemCount;
    };

    CBatchCommands(core::CJobList& list, core::AddFileHooks addFileHooks, core::Prompter& prompter,
                   core::FileDialogs& dialogs, Hooks hooks = {})
        : m_list(list), m_addFileHooks(std::move(addFileHooks)), m_prompter(prompter),
          m_dialogs(dialogs), m_hooks(std::move(hooks)) {}

    // Load and Append: false when no file was read (cancelled or unreadable).
    bool Load();
    bool Append();
    // Save and SaveAs: true when the file was written.
    bool Save();
    bool SaveAs();

    // Reads a batch file into the list after the existing jobs (Load empties the list first).
    bool ReadBatchFile(const std::string& path);
    // Writes the list to the remembered name; true when it was written.
    bool WriteBatchFile();

    const std::string& BatchName() const { return m_batchName; }
    std::string Title() const { return "Quillsever  [" + m_batchName + "]"; }

  private:
    void UpdateTitle();
    void ShowItemCount();
    bool RefuseEmptyList();

    core::CJobList& m_list;
    core::AddFileHooks m_addFileHooks;
    core::Prompter& m_prompter;
    core::FileDialogs& m_dialogs;
    Hooks m_hooks;
    std::string m_batchName;
    bool m_nameIsOurs = false; // "default.spl", which no one chose
};

} // namespace storage
