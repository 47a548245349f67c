#pragma once

#include "core/AddFile.h"
#include "core/JobList.h"
#include "core/Prompter.h"
#include "core/SetupOptions.h"
#include "ui/dialogs/SplitParametersDialog.h"

#include <functional>
#include <string>
#include <vector>

namespace ui {

inline constexpr const char* kSelectFirstMessage = "Please select item first";

// The one Split Parameters dialog of the window as the list operations use it: its fields
// persist between openings, which is how a new job receives the previous job's values.
class ParameterDialog {
  public:
    virtual ~ParameterDialog();
    virtual SplitParametersFields& Fields() = 0;
    // Modal; 1 on acceptance. With alwaysShow clear the dialog accepts by itself when its
    // current values pass the check.
    virtual int Open(bool alwaysShow) = 0;
};

// The commands by which the user fills and edits the job list: drops, the parameter prompt,
// the toggle, updates, moves, deletion, sorting and recounting.
class CJobListOperations {
  public:
    struct Services {
        core::CJobList& list;
        core::Prompter& prompter;
        ParameterDialog& dialog;
        const core::SetupOptions& options;
        // Page count of (path, row) and the icon of a name; either may be empty.
        std::function<int32_t(const std::string&, int)> countPages = {};
        std::function<int(const std::string&)> iconOf = {};
        // Refreshes the "Total Items:" box.
        std::function<void()> showItemCount = {};
        // Shows the always-show flag as the check mark of its menu entry.
        std::function<void(bool)> showAlwaysShow = {};
        // Repaints the window at once (each added row shows as it arrives).
        std::function<void()> repaint = {};
        // Gives the keyboard focus to a row that a move has just highlighted.
        std::function<void(int)> focusRow = {};
    };

    explicit CJobListOperations(Services services) : m_s(std::move(services)) {}

    // What AddFile needs here: counting, icon, the parameter prompt for a row without a
    // string, repaint.
    core::AddFileHooks Hooks();

    // Adds every existing non-folder item in drop order, each through the parameter prompt.
    void DropFiles(const std::vector<std::string>& paths);
    void PromptParameters(int row);
    void ToggleSelected();
    void UpdateItem();
    // "Update Item" and "&Update Selection": UpdateItem with the dialog always shown.
    void UpdateSelection();
    void ToggleAlwaysShow();
    void MoveUp();
    void MoveDown();
    void DeleteSelection();
    void ClearAll();
    void Sort(int column);
    void RefreshPageCounts();

    bool AlwaysShow() const { return m_alwaysShow; }
    // Start-up sets the flag without a toggle; the check mark follows.
    void SetAlwaysShow(bool on);
    int RowBeingEdited() const { return m_rowBeingEdited; }

  private:
    void Move(int step);
    void OpenFor(int row);
    void ShowItemCount();

    Services m_s;
    bool m_alwaysShow = false;
    int m_rowBeingEdited = -1;
};

} // namespace ui
