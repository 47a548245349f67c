#include "engine/PageCounter.h"

#include "core/Files.h"

#include <cerrno>
#include <unistd.h>

namespace engine {

int32_t CPageCounter::Count(const std::string& path, int row) {
    const int fd = core::OpenRegularFd(path);
    if (fd >= 0) {
        ::close(fd);
    } else if (!core::IsTransientOpenError(errno)) {
        if (row != -1 && m_list)
            m_list->SetText(row, core::kColSelected, "No");
        return -1;
    }
    // A file that cannot be opened just now (too many files open) does exist: it is not marked
    // as missing; the automation tries it and says so if it cannot open it either.

    m_connection.Show();
    auto app = m_automation.Create<App>();
    m_connection.Hide();
    if (!app) {
        m_prompter.Show(kConnectFailedMessage);
        return 0;
    }
    auto view = m_automation.Create<AVDoc>();
    if (!view) {
        m_prompter.Show("Failed to create AVDoc");
        return 0;
    }
    if (!view->Open(path, "")) {
        m_prompter.Show("Error Opening File : " + path);
        app->CloseAllDocs();
        return 0;
    }
    int32_t pages = 0;
    if (auto document = view->GetPDDoc()) {
        m_pump.PumpOnce();
        pages = document->GetNumPages();
        m_pump.PumpOnce();
    }
    if (!view->Close(true)) {
        m_prompter.Show("Failed to get Close doc");
        app->CloseAllDocs();
        return pages;
    }
    app->CloseAllDocs();
    if (pages == 0)
        m_prompter.Show(
            "0 Pages found in file: " + path +
            "\n\nIt's possible that Acrobat Reader is running instead of Full Acrobat. (look in "
            "Task Manager)\n\nClose Reader, Open Full Acrobat to force Quillsever to use it.\n"
            "NOTE: Full Commercial version of Adobe Acrobat 4 or 5 or 6 or 7 is required to split "
            "PDF's\n\nIf this is not the case please check the pdf file.\n\n\nTip: The last "
            "version of Acrobat is always used with Quillsever");
    return pages;
}

} // namespace engine
