#include "ui/window/JobListOperations.h"

#include "core/Files.h"
#include "core/JobListSort.h"
#include "core/Text.h"

#include <sys/stat.h>

namespace ui {

ParameterDialog::~ParameterDialog() = default;

core::AddFileHooks CJobListOperations::Hooks() {
    core::AddFileHooks hooks;
    hooks.countPages = m_s.countPages;
    hooks.iconOf = m_s.iconOf;
    hooks.promptParameters = [this](int row) { PromptParameters(row); };
    hooks.repaint = m_s.repaint;
    return hooks;
}

void CJobListOperations::ShowItemCount() {
    if (m_s.showItemCount)
        m_s.showItemCount();
}

void CJobListOperations::DropFiles(const std::vector<std::string>& paths) {
    core::AddFileHooks hooks = Hooks();
    // The count follows every file, before its page count (whose box may say the file cannot
    // be read) and its prompt: a drop of hundreds of files takes seconds, all the while beside
    // a list that had long outgrown the count shown.
    if (hooks.countPages)
        hooks.countPages = [this, count = hooks.countPages](const std::string& path, int row) {
            ShowItemCount();
            return count(path, row);
        };
    hooks.repaint = [this, repaint = hooks.repaint] {
        ShowItemCount();
        if (repaint)
            repaint();
    };
    for (const std::string& path : paths) {
        // The whole path, however long: cutting it would name another file.
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
            continue;
        core::NewJob job;
        job.fileName = path;
        core::AddFile(m_s.list, hooks, job);
    }
    ShowItemCount();
}

void CJobListOperations::PromptParameters(int row) {
    SplitParametersFields& fields = m_s.dialog.Fields();
    fields.fileName = m_s.list.Text(row, core::kColFilename);
    fields.pages = core::LeadingInt(m_s.list.Text(row, core::kColPages));
    OpenFor(row);
}

void CJobListOperations::OpenFor(int row) {
    SplitParametersFields& fields = m_s.dialog.Fields();
    if (m_s.options.defaultSplitToSource) {
        if (auto directory = core::DirectoryOf(fields.fileName))
            fields.splitTo = *directory;
    }
    m_rowBeingEdited = row;
    const core::JobId id = m_s.list.IdAt(row);
    if (m_s.dialog.Open(m_alwaysShow) != 1)
        return;
    if (fields.useSame) {
        m_alwaysShow = true;
        ToggleAlwaysShow();
    }
    // The job may have moved while the dialog was up; it is written wherever it is now.
    const int target = m_s.list.RowOf(id);
    if (target < 0)
        return;
    auto& list = m_s.list;
    list.SetText(target, core::kColSplitParameters, fields.splitParameters);
    list.SetText(target, core::kColMoveTo, fields.moveTo);
    list.SetText(target, core::kColSplitTo, fields.splitTo);
    list.SetText(target, core::kColIncrementName, fields.incrementName);
    list.SetText(target, core::kColUsePagesName, fields.usePagesName);
    list.SetText(target, core::kColKeepBookmarks, fields.keepBookmarks);
    list.SetText(target, core::kColFileList, fields.fileList);
    list.SetText(target, core::kColIncrementStart, core::IntText(fields.incrementStart));
    list.SetText(target, core::kColSkipPages, core::IntText(fields.skipPages));
    list.SetText(target, core::kColPageOffset, core::IntText(fields.pageOffset));
}

void CJobListOperations::ToggleSelected() {
    const int row = m_s.list.FirstHighlighted();
    if (row < 0)
        return;
    if (m_s.list.Text(row, core::kColSelected) == "Yes") {
        m_s.list.SetText(row, core::kColSelected, "No");
        m_s.list.SetText(row, core::kColStatus, "");
    } else {
        m_s.list.SetText(row, core::kColSelected, "Yes");
        m_s.list.SetText(row, core::kColStatus, "Ready.");
    }
}

void CJobListOperations::UpdateItem() {
    const int row = m_s.list.FirstHighlighted();
    if (row < 0) {
        m_s.prompter.Show(kSelectFirstMessage);
        return;
    }
    const auto& list = m_s.list;
    SplitParametersFields& fields = m_s.dialog.Fields();
    fields.fileName = list.Text(row, core::kColFilename);
    fields.splitParameters = list.Text(row, core::kColSplitParameters);
    fields.moveTo = list.Text(row, core::kColMoveTo);
    fields.splitTo = list.Text(row, core::kColSplitTo);
    fields.incrementName = list.Text(row, core::kColIncrementName);
    fields.usePagesName = list.Text(row, core::kColUsePagesName);
    fields.keepBookmarks = list.Text(row, core::kColKeepBookmarks);
    fields.fileList = list.Text(row, core::kColFileList);
    fields.incrementStart = core::LeadingInt(list.Text(row, core::kColIncrementStart));
    fields.skipPages = core::LeadingInt(list.Text(row, core::kColSkipPages));
    fields.pageOffset = core::LeadingInt(list.Text(row, core::kColPageOffset));
    fields.pages = core::LeadingInt(list.Text(row, core::kColPages));
    OpenFor(row);
}

void CJobListOperations::UpdateSelection() {
    if (m_alwaysShow) {
        UpdateItem();
        return;
    }
    m_alwaysShow = true;
    UpdateItem();
    m_alwaysShow = false;
}

void CJobListOperations::SetAlwaysShow(bool on) {
    m_alwaysShow = on;
    if (m_s.showAlwaysShow)
        m_s.showAlwaysShow(on);
}

void CJobListOperations::ToggleAlwaysShow() {
    SetAlwaysShow(!m_alwaysShow);
}

void CJobListOperations::Move(int step) {
    auto& list = m_s.list;
    const int row = list.FirstHighlighted();
    list.ClearHighlights();
    const int target = row + step;
    if (row < 0 || list.Count() < 2 || target < 0 || target >= list.Count())
        return;
    list.ExchangeRows(target, row);
    list.SetHighlight(target, true);
    list.SetFocus(target);
    if (m_s.focusRow)
        m_s.focusRow(target);
}

void CJobListOperations::MoveUp() {
    Move(-1);
}

void CJobListOperations::MoveDown() {
    Move(+1);
}

void CJobListOperations::DeleteSelection() {
    auto& list = m_s.list;
    const int count = list.HighlightedCount();
    if (count == 0) {
        m_s.prompter.Show(kSelectFirstMessage);
    } else {
        for (int k = 0; k < count; ++k)
            list.DeleteRow(list.FirstHighlighted());
    }
    ShowItemCount();
}

void CJobListOperations::ClearAll() {
    m_s.list.DeleteAll();
    ShowItemCount();
}

void CJobListOperations::Sort(int column) {
    core::SortRows(m_s.list, column, true, 0, -1);
}

void CJobListOperations::RefreshPageCounts() {
    auto& list = m_s.list;
    // The count is read again on every pass: a count pumps events, and the list may change.
    for (int i = 0; i < list.Count(); ++i) {
        const std::string name = list.Text(i, core::kColFilename);
        std::string pages = "Unknown";
        int32_t n = 0;
        if (core::Contains(name, ".pdf") || core::Contains(name, ".PDF")) {
            n = m_s.countPages ? m_s.countPages(name, i) : 0;
            pages = core::IntText(n);
        }
        list.SetText(i, core::kColPages, pages);
        list.SetText(i, core::kColStatus, "Ready");
        if (n == -1)
            list.SetText(i, core::kColStatus, "No File.");
    }
}

} // namespace ui
