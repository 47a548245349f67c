#include "ui/desktop/QtPrompter.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace ui {

QString ApplicationTitle() {
    const QString path = QCoreApplication::applicationFilePath();
    const QString title = QFileInfo(path).completeBaseName();
    return title.isEmpty() ? QStringLiteral("quillsever") : title;
}

core::Answer CQtPrompter::Show(const std::string& text, const std::string& caption,
                               core::Buttons buttons, core::Icon icon) {
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    QString iconName;
    switch (icon) {
    case core::Icon::None:
        break;
    case core::Icon::Information:
        boxIcon = QMessageBox::Information;
        iconName = QStringLiteral("Information");
        break;
    case core::Icon::Warning:
        boxIcon = QMessageBox::Warning;
        iconName = QStringLiteral("Warning");
        break;
    case core::Icon::Error:
        boxIcon = QMessageBox::Critical;
        iconName = QStringLiteral("Error");
        break;
    case core::Icon::Question:
        boxIcon = QMessageBox::Question;
        iconName = QStringLiteral("Question");
        break;
    }
    const QMessageBox::StandardButtons standard =
        buttons == core::Buttons::YesNo ? (QMessageBox::Yes | QMessageBox::No)
                                        : QMessageBox::StandardButtons(QMessageBox::Ok);
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QPointer<QMessageBox> box = new QMessageBox(
        boxIcon, caption.empty() ? ApplicationTitle() : QString::fromStdString(caption),
        QString::fromStdString(text), standard, parent);
    box->setAccessibleName(box->windowTitle());
    // A box is only as wide as its text, and the title bar cut a longer caption to a few
    // letters ("Erro...ers" over "no valid parameters"): it is made wide enough for the caption
    // in a bold title font, beside the window's icon and its buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        QFont bold = box->font();
        bold.setBold(true);
        const QFontMetrics title(bold);
        const int wanted = title.horizontalAdvance(box->windowTitle()) + 7 * title.height();
        grid->addItem(new QSpacerItem(wanted, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    // The icon says what kind of message this is; a screen reader says it too.
    if (auto* picture = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
        picture->setAccessibleName(iconName);
    const int result = box->exec();
    // The box may have been destroyed with its parent while it was up; only delete a live one.
    if (box)
        delete box;
    if (buttons == core::Buttons::YesNo)
        return result == QMessageBox::Yes ? core::Answer::Yes : core::Answer::No;
    return core::Answer::Ok;
}

} // namespace ui
