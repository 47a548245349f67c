#include "storage/BatchCommands.h"

#include "core/AtomicFile.h"
#include "core/Files.h"
#include "storage/BatchFile.h"

#include <chrono>

namespace storage {

namespace {
const std::vector<core::FileFilter> kBatchFilters{{"*.spl", "*.spl"}, {"All Files *.*", "*.*"}};
}

bool CBatchCommands::Load() {
    m_list.DeleteAll();
    ShowItemCount();
    auto path = m_dialogs.OpenFile("Open Split Batch File", kBatchFilters);
    return path && ReadBatchFile(*path);
}

bool CBatchCommands::Append() {
    auto path = m_dialogs.OpenFile("Open Job File", kBatchFilters);
    return path && ReadBatchFile(*path);
}

bool CBatchCommands::Save() {
    if (RefuseEmptyList())
        return false;
    if (m_batchName.empty()) {
        m_batchName = kDefaultBatchFile;
        m_nameIsOurs = true;
    }
    return WriteBatchFile();
}

bool CBatchCommands::SaveAs() {
    if (RefuseEmptyList())
        return false;
    auto path = m_dialogs.SaveFile("Save Split Parameters File", kBatchFilters, "spl");
    if (!path)
        return false;
    m_batchName = *path;
    m_nameIsOurs = false;
    UpdateTitle();
    return WriteBatchFile();
}

bool CBatchCommands::ReadBatchFile(const std::string& path) {
    m_batchName = path;
    m_nameIsOurs = false;
    UpdateTitle();
    const int fd = core::OpenRegularFd(path);
    if (fd < 0) {
        m_prompter.Show(path, "Can't read split parameters file.");
        return false;
    }
    // A repaint of the window after every record cost milliseconds each: a batch of 100,000
    // jobs took minutes. The list is still seen to grow while pages are counted, a few times a
    // second.
    core::AddFileHooks hooks = m_addFileHooks;
    if (hooks.repaint) {
        auto last = std::chrono::steady_clock::now();
        hooks.repaint = [repaint = m_addFileHooks.repaint, last]() mutable {
            const auto now = std::chrono::steady_clock::now();
            if (now - last < std::chrono::milliseconds(100))
                return;
            last = now;
            repaint();
        };
    }
    const bool read = AddBatchRecordsFrom(fd, m_list, hooks);
    if (m_addFileHooks.repaint)
        m_addFileHooks.repaint();
    ShowItemCount();
    if (!read)
        m_prompter.Show(path, "Can't read split parameters file.");
    return read;
}

bool CBatchCommands::WriteBatchFile() {
    // A name the user chose may be a link to where the batch really lives: it is written
    // there. The default name is the program's own: a link or a stranger's file there is
    // refused.
    const auto kind =
        m_nameIsOurs ? core::CAtomicFile::Kind::Own : core::CAtomicFile::Kind::FollowLink;
    if (!core::CAtomicFile::WriteAll(m_batchName, BatchFileText(m_list), kind)) {
        m_prompter.Show(m_batchName, "Can't write to job file.");
        return false;
    }
    UpdateTitle();
    m_prompter.Show(m_batchName, "Split Parameters Saved OK");
    return true;
}

bool CBatchCommands::RefuseEmptyList() {
    if (m_list.Count() > 0)
        return false;
    m_prompter.Show("No Files to Save", "Save Error!");
    return true;
}

void CBatchCommands::UpdateTitle() {
    if (m_hooks.setTitle)
        m_hooks.setTitle(Title());
}

void CBatchCommands::ShowItemCount() {
    if (m_hooks.showItemCount)
        m_hooks.showItemCount(m_list.Count());
}

} // namespace storage
