#include "ui/desktop/QtFileDialogs.h"

#include "ui/dialogs/DialogUnits.h"

#include <QDir>
#include <QFileDialog>

namespace ui {

QStringList NameFilters(const std::vector<core::FileFilter>& filters) {
    QStringList out;
    for (const core::FileFilter& f : filters) {
        QString pattern = QString::fromStdString(f.pattern);
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        out << QString::fromStdString(f.label) + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return out;
}

std::optional<std::string> CQtFileDialogs::OpenFile(const std::string& title,
                                                    const std::vector<core::FileFilter>& filters) {
    return Run(false, title, filters, {});
}

std::optional<std::string> CQtFileDialogs::SaveFile(const std::string& title,
                                                    const std::vector<core::FileFilter>& filters,
                                                    const std::string& defaultExtension) {
    return Run(true, title, filters, defaultExtension);
}

std::optional<std::string> CQtFileDialogs::Run(bool save, const std::string& title,
                                               const std::vector<core::FileFilter>& filters,
                                               const std::string& defaultExtension) {
    // split.log, setup.ini and default.spl are relative names: whatever the dialog does, the
    // working directory must be the same afterwards.
    const QString workingDirectory = QDir::currentPath();
    QFileDialog dialog(m_parent, QString::fromStdString(title));
    dialog.setObjectName(QStringLiteral("fileDialog"));
    // F1 in it opens the page of what is being chosen: a batch file or the log's export.
    const bool batch = !filters.empty() && filters.front().pattern == "*.spl";
    SetHelpTopic(dialog, batch ? QStringLiteral("batch-files") : QStringLiteral("log#export"));
    // Qt's own dialog: the same behaviour on every desktop, and one the tests can drive.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    const QStringList nameFilters = NameFilters(filters);
    dialog.setNameFilters(nameFilters);
    if (!nameFilters.isEmpty())
        dialog.selectNameFilter(nameFilters.front());
    if (save && !defaultExtension.empty())
        dialog.setDefaultSuffix(QString::fromStdString(defaultExtension));
    const int result = dialog.exec();
    if (QDir::currentPath() != workingDirectory)
        QDir::setCurrent(workingDirectory);
    if (result != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().front();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.toStdString();
}

} // namespace ui
