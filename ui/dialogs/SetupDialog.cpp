#include "ui/dialogs/SetupDialog.h"

#include "ui/dialogs/DialogUnits.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include <charconv>

namespace ui {

CSetupDialog::CSetupDialog(core::SetupOptions& options, core::Prompter& prompter, QWidget* parent,
                           std::string setupPath)
    : QDialog(parent), m_options(options), m_prompter(prompter), m_setupPath(std::move(setupPath)) {
    SetUpModalDialog(*this, QStringLiteral("dlg140"), QStringLiteral("Setup"));
    SetHelpTopic(*this, QStringLiteral("setup"));
    const QFont dialogFont = font();
    auto place = [&](QWidget* w, int x, int y, int width, int height) {
        w->setGeometry(DialogUnitsToPixels(dialogFont, QRect(x, y, width, height)));
    };
    auto button = [&](const QString& text, int x, int y, int w, int h) {
        auto* b = new QPushButton(text, this);
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setAccessibleName(WithoutAccessKeys(text));
        place(b, x, y, w, h);
        return b;
    };
    // Labels and the check boxes' texts end where the layout puts them; they may begin further
    // left, since this font can be wider than the one the layout was drawn for.
    auto rightAligned = [&](QWidget* w, int x, int y, int width, int height) {
        const QRect r = DialogUnitsToPixels(dialogFont, QRect(x, y, width, height));
        const int left = DialogUnitsToPixels(dialogFont, QRect(3, 0, 0, 0)).x();
        w->setGeometry(QRect(QPoint(std::min(left, r.left()), r.top()), r.bottomRight()));
    };
    auto label = [&](const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, this);
        rightAligned(l, x, y, w, h + 2);
        return l;
    };
    auto edit = [&](QLabel* caption, const char* name, int x, int y, int w, int h) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setAccessibleName(WithoutAccessKeys(caption->text()).remove(QLatin1Char(':')));
        caption->setBuddy(e);
        place(e, x, y, w, h + 2);
        return e;
    };
    auto check = [&](const QString& text, const char* name, int x, int y, int w, int h) {
        auto* c = new QCheckBox(text, this);
        c->setObjectName(QLatin1String(name));
        c->setLayoutDirection(Qt::RightToLeft); // the text stands left of the box
        c->setAccessibleName(WithoutAccessKeys(text));
        rightAligned(c, x, y, w, h + 2);
        connect(c, &QCheckBox::clicked, this, [this] { TakeFields(); });
        return c;
    };

    // Created in the order the Tab key visits them.
    m_save = button(QStringLiteral("Save && Exit"), 107, 155, 50, 14);
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_cancel = button(QStringLiteral("&Cancel"), 207, 155, 50, 14);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    QLabel* prefixLabel = label(QStringLiteral("Prefix part filenames with text:"), 14, 29, 94, 8);
    m_prefix = edit(prefixLabel, "prefixEdit", 113, 26, 135, 12);
    m_useSourceName = check(QStringLiteral("Prefix with original filename also"),
                            "useSourceNameCheck", 7, 9, 115, 10);
    QLabel* endLabel = label(QStringLiteral("End part filenames with text:"), 19, 45, 89, 8);
    m_endText = edit(endLabel, "endEdit", 113, 42, 135, 12);
    QLabel* maskLabel = label(QStringLiteral("Mask counter with n Zeros:"), 21, 109, 87, 8);
    m_counterWidth = edit(maskLabel, "counterWidthEdit", 113, 106, 32, 12);
    m_counterWidth->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]*")), m_counterWidth));
    m_noSplash =
        check(QStringLiteral("Disable splash screen startup"), "noSplashCheck", 13, 137, 108, 10);
    m_defaultSplit = check(QStringLiteral("Default split directory to source"), "defaultSplitCheck",
                           8, 123, 113, 10);
    QLabel* pageLabel = label(QStringLiteral("Page range added to filename:"), 11, 61, 98, 8);
    m_singlePage = edit(pageLabel, "singlePageEdit", 113, 59, 135, 12);
    QLabel* pagesLabel = label(QStringLiteral("Page ranges added to filename:"), 9, 76, 101, 8);
    m_range = edit(pagesLabel, "rangeEdit", 113, 74, 135, 12);
    QLabel* delimiterLabel = label(QStringLiteral("Prefix filename delimiter:"), 34, 92, 76, 8);
    m_delimiter = edit(delimiterLabel, "delimiterEdit", 113, 89, 32, 12);
    for (QLabel* l : {prefixLabel, endLabel, maskLabel, pageLabel, pagesLabel, delimiterLabel})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // setup.ini ends a value at a semicolon or a line end: a text typed with one would name the
    // parts one way now and, cut short at the next start, another way afterwards.
    const QRegularExpression oneValue(QStringLiteral("[^;\\r\\n]*"));
    for (QLineEdit* text : {m_prefix, m_endText, m_singlePage, m_range, m_delimiter})
        text->setValidator(new QRegularExpressionValidator(oneValue, text));

    connect(m_save, &QPushButton::clicked, this, &CSetupDialog::SaveAndExit);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    // Where a text still does not fit, everything moves right and the dialog grows by the
    // missing width, so no label is ever cut.
    int missing = 0;
    for (QWidget* w : std::initializer_list<QWidget*>{prefixLabel, endLabel, maskLabel, pageLabel,
                                                      pagesLabel, delimiterLabel, m_useSourceName,
                                                      m_noSplash, m_defaultSplit})
        missing = std::max(missing, w->sizeHint().width() - w->width());
    if (missing > 0) {
        for (QWidget* w : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            w->move(w->x() + missing, w->y());
        for (QWidget* w : std::initializer_list<QWidget*>{
                 prefixLabel, endLabel, maskLabel, pageLabel, pagesLabel, delimiterLabel,
                 m_useSourceName, m_noSplash, m_defaultSplit})
            w->setGeometry(w->geometry().adjusted(-missing, 0, 0, 0));
    }
    setFixedSize(DialogUnitsToPixels(dialogFont, QRect(0, 0, 262, 170)).size() + QSize(missing, 0));
    ShowOptions();
    m_save->setFocus();
}

void CSetupDialog::ShowOptions() {
    m_prefix->setText(QString::fromStdString(m_options.prefix));
    m_useSourceName->setChecked(m_options.useSourceName);
    m_endText->setText(QString::fromStdString(m_options.endText));
    m_counterWidth->setText(QString::number(m_options.counterWidth));
    m_noSplash->setChecked(m_options.noSplash);
    m_defaultSplit->setChecked(m_options.defaultSplitToSource);
    m_singlePage->setText(QString::fromStdString(m_options.singlePageText));
    m_range->setText(QString::fromStdString(m_options.rangeText));
    m_delimiter->setText(QString::fromStdString(m_options.delimiter));
}

bool CSetupDialog::TakeFields() {
    m_options.prefix = m_prefix->text().toStdString();
    m_options.useSourceName = m_useSourceName->isChecked();
    m_options.endText = m_endText->text().toStdString();
    const std::string width = m_counterWidth->text().trimmed().toStdString();
    int32_t value = 0;
    const char* end = width.data() + width.size();
    auto [rest, error] = std::from_chars(width.data(), end, value);
    if (width.empty() || error != std::errc() || rest != end) {
        m_prompter.Show("Please enter an integer.", {}, core::Buttons::Ok, core::Icon::Warning);
        m_counterWidth->setFocus();
        m_counterWidth->selectAll();
        return false;
    }
    m_options.counterWidth = value;
    m_options.noSplash = m_noSplash->isChecked();
    m_options.defaultSplitToSource = m_defaultSplit->isChecked();
    m_options.singlePageText = m_singlePage->text().toStdString();
    m_options.rangeText = m_range->text().toStdString();
    m_options.delimiter = m_delimiter->text().toStdString();
    return true;
}

void CSetupDialog::SaveAndExit() {
    TakeFields();
    core::SaveSetupOptions(m_options, m_prompter, m_setupPath);
    QDialog::accept();
}

void CSetupDialog::accept() {
    if (TakeFields())
        QDialog::accept();
}

void CSetupDialog::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // None of the buttons is a default button: Enter presses the button that has the
        // focus, and anywhere else takes the fields without writing the file.
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()))
            focused->click();
        else
            accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace ui
