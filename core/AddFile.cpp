#include "core/AddFile.h"

#include "core/Text.h"

namespace core {

int AddFile(CJobList& list, const AddFileHooks& hooks, const NewJob& job) {
    if (!Contains(job.fileName, ".pdf") && !Contains(job.fileName, ".PDF"))
        return kAddFileRefused;

    const int row = list.Count();
    list.InsertRow(row, job.selected == 1 ? "Yes" : "No",
                   hooks.iconOf ? hooks.iconOf(job.fileName) : -1);
    list.SetText(row, kColFilename, job.fileName);

    int32_t pages = job.pageCount;
    bool counted = false;
    if (pages == 0 && hooks.countPages) {
        pages = hooks.countPages(job.fileName, row);
        counted = true;
    }
    list.SetText(row, kColPages, IntText(pages));

    list.SetText(row, kColStatus, "Ready.");
    list.SetText(row, kColSplitParameters, job.splitParameters);
    list.SetText(row, kColMoveTo, job.moveTo);
    list.SetText(row, kColSplitTo, job.splitTo);
    list.SetText(row, kColIncrementName, job.incrementName);
    list.SetText(row, kColUsePagesName, job.usePagesName);
    list.SetText(row, kColKeepBookmarks, job.keepBookmarks);
    list.SetText(row, kColFileList, job.fileList);
    list.SetText(row, kColIncrementStart, IntText(job.incrementStart));
    list.SetText(row, kColSkipPages, IntText(job.skipPages));
    list.SetText(row, kColPageOffset, IntText(job.pageOffset));
    if (counted && pages == -1)
        list.SetText(row, kColStatus, "No File.");

    if (hooks.repaint)
        hooks.repaint();
    if (job.splitParameters.empty() && hooks.promptParameters)
        hooks.promptParameters(row);
    return kAddFileAdded;
}

} // namespace core
