#include "ui/dialogs/FolderChooser.h"

#include "core/FolderCheck.h"
#include "ui/desktop/Artwork.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace ui {

namespace {

// The nearest folder at or above `path` that exists, so that a typed folder still to be
// created opens the tree where it would go.
QString ExistingFolderAtOrAbove(QString path) {
    while (!path.isEmpty()) {
        const QFileInfo info(path);
        if (info.isDir())
            return info.absoluteFilePath();
        const QString parent = info.path();
        if (parent == path)
            break;
        path = parent;
    }
    return {};
}

} // namespace

CFolderChooser::CFolderChooser(core::Prompter& prompter, const QString& title,
                               const QString& prompt, const QString& initialFolder, QWidget* parent)
    : QDialog(parent), m_prompter(prompter) {
    setObjectName(QStringLiteral("folderChooser"));
    setWindowTitle(title.isEmpty() ? QStringLiteral("Browse For Folder") : title);
    setWindowIcon(ProgramIcon());
    setModal(true);

    auto* promptLabel = new QLabel(prompt, this);
    promptLabel->setObjectName(QStringLiteral("prompt"));
    promptLabel->setTextFormat(Qt::PlainText);
    promptLabel->setWordWrap(true);

    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("ctl14148"));
    m_edit->setAccessibleName(prompt.isEmpty() ? QStringLiteral("Folder") : prompt);

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    m_model->setRootPath(QDir::rootPath());

    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("ctl14145"));
    m_tree->setAccessibleName(QStringLiteral("Folders"));
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column)
        m_tree->hideColumn(column);
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setObjectName(QStringLiteral("ctl1"));
    m_ok->setAccessibleName(QStringLiteral("OK"));
    m_ok->setEnabled(false);
    buttons->button(QDialogButtonBox::Cancel)->setAccessibleName(QStringLiteral("Cancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(promptLabel);
    layout->addWidget(m_edit);
    layout->addWidget(m_tree, 1);
    layout->addWidget(buttons);
    resize(420, 460);

    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CFolderChooser::OnSelectionChanged);
    connect(m_edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_ok->setEnabled(!text.isEmpty()); });
    // The tree fills in its folders in the background, in batches; while the folder holding the
    // selection grows, keep the selection in view, until the user moves it.
    const auto keepInView = [this] {
        if (m_scrollPending)
            QTimer::singleShot(0, this, &CFolderChooser::ScrollToSelection);
    };
    connect(m_model, &QFileSystemModel::rowsInserted, this, keepInView);
    connect(m_model, &QFileSystemModel::layoutChanged, this, keepInView);
    connect(buttons, &QDialogButtonBox::accepted, this, &CFolderChooser::OnOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    const QString wanted = initialFolder.isEmpty() ? QDir::currentPath() : initialFolder;
    const QString existing = ExistingFolderAtOrAbove(wanted);
    if (!existing.isEmpty())
        SelectFolder(existing);
    // A folder that is not there yet still shows as the field named it.
    if (!initialFolder.isEmpty() &&
        QDir::cleanPath(existing) != QDir::cleanPath(QFileInfo(initialFolder).absoluteFilePath()))
        m_edit->setText(initialFolder);
    m_edit->setFocus();
}

bool CFolderChooser::SelectFolder(const QString& path) {
    const QModelIndex index = m_model->index(path);
    if (!index.isValid())
        return false;
    m_tree->setCurrentIndex(index);
    m_tree->scrollTo(index, QAbstractItemView::PositionAtCenter);
    m_scrollPending = true; // after the selection notice, which ends it
    return true;
}

void CFolderChooser::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Scrolling means something only once the tree has its size.
    QTimer::singleShot(0, this, &CFolderChooser::ScrollToSelection);
}

void CFolderChooser::ScrollToSelection() {
    if (m_tree->currentIndex().isValid())
        m_tree->scrollTo(m_tree->currentIndex(), QAbstractItemView::PositionAtCenter);
}

void CFolderChooser::OnSelectionChanged() {
    m_scrollPending = false;
    const QModelIndex index = m_tree->currentIndex();
    // An item without a place in the file system has no path; then OK waits for a typed one.
    const QString path = index.isValid() ? m_model->filePath(index) : QString();
    m_edit->setText(path);
}

void CFolderChooser::OnOk() {
    const QString typed = m_edit->text();
    if (core::CheckFolder(typed.toStdString(), m_prompter) == core::kFolderOk) {
        m_path = typed;
        accept();
        return;
    }
    m_edit->setFocus();
}

int CFolderChooser::Choose() {
    return exec() == QDialog::Accepted ? 1 : -1;
}

std::optional<std::string> ChooseFolder(core::Prompter& prompter, const std::string& title,
                                        const std::string& prompt, const std::string& initial,
                                        QWidget* parent) {
    CFolderChooser chooser(prompter, QString::fromStdString(title), QString::fromStdString(prompt),
                           QString::fromStdString(initial), parent);
    if (chooser.Choose() != 1)
        return std::nullopt;
    return chooser.Path().toStdString();
}

} // namespace ui
