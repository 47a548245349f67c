#include "ui/dialogs/SplitParametersDialog.h"

#include "core/SplitParameters.h"
#include "ui/desktop/Artwork.h"
#include "ui/dialogs/DialogUnits.h"
#include "ui/dialogs/FolderChooser.h"
#include "ui/dialogs/ProposeDialog.h"
#include "ui/preview/PlanPreview.h"
#include "ui/preview/ThumbnailStrip.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTreeView>

#include <algorithm>
#include <limits>

namespace ui {

namespace {

// A number field holds an integer when it is one, with blanks around it at most; anything else
// (empty, a fraction, trailing letters, a value beyond 32 bits) is refused rather than guessed.
std::optional<int32_t> ParseInteger(const QString& text) {
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<int32_t>::min() ||
        value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(value);
}

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// A field shows its value whole: a line edit cuts what is set beyond its length limit (32,767
// characters unless widened), and Save & Exit would store the cut value, a job of 10,000 single
// pages coming back with 6,775 of them.
void ShowWhole(QLineEdit* edit, const std::string& value) {
    const QString text = Q(value);
    edit->setMaxLength(std::max(edit->maxLength(), static_cast<int>(text.size())));
    edit->setText(text);
}

// What the dialog remembers of itself between starts (whether the preview is folded): a
// setting of the user's desktop, kept apart from setup.ini, whose lines are the program's own.
QSettings PreviewSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("quillsever"),
                     QStringLiteral("window"));
}

} // namespace

CSplitParametersDialog::CSplitParametersDialog(core::Prompter& prompter,
                                               std::function<void()> openHelp, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_prompter(prompter), m_openHelp(std::move(openHelp)) {
    m_chooser = [this](const std::string& title, const std::string& prompt,
                       const std::string& initial) {
        return ChooseFolder(m_prompter, title, prompt, initial, this);
    };
    setObjectName(QStringLiteral("dlg129"));
    SetHelpTopic(*this, QStringLiteral("split-parameters"));
    setWindowTitle(QStringLiteral("Split Parameters"));
    setWindowIcon(ProgramIcon());
    setModal(true);
    Build();
    BuildPreview();
}

CSplitParametersDialog::~CSplitParametersDialog() {
    // The program ends with the dialog still open: what a proposal wrote reached no job.
    m_writtenNames.RemoveUnused({}, true);
}

SplitParametersFields& CSplitParametersDialog::Fields() {
    return m_fields;
}

void CSplitParametersDialog::SetFolderChooser(FolderChooser chooser) {
    m_chooser = std::move(chooser);
}

void CSplitParametersDialog::Build() {
    const QFont dialogFont = font();
    m_controls = DialogUnitsToPixels(dialogFont, QRect(0, 0, 348, 210)).size();
    setFixedSize(m_controls);
    const auto place = [&](QWidget* widget, int x, int y, int w, int h) {
        widget->setGeometry(DialogUnitsToPixels(dialogFont, QRect(x, y, w, h)));
    };
    const auto named = [](QWidget* widget, int id, const QString& name) {
        widget->setObjectName(QStringLiteral("ctl%1").arg(id));
        widget->setAccessibleName(WithoutAccessKeys(name));
    };
    const auto edit = [&](int id, const QString& name, int x, int y, int w, int h) {
        auto* e = new QLineEdit(this);
        named(e, id, name);
        place(e, x, y, w, h);
        return e;
    };
    const auto button = [&](int id, const QString& text, int x, int y, int w, int h) {
        auto* b = new QPushButton(text, this);
        named(b, id, text);
        b->setAutoDefault(false);
        b->setDefault(false);
        place(b, x, y, w, h);
        return b;
    };
    const auto label = [&](const QString& text, int x, int y, int w, int h) {
        auto* l = new QLabel(text, this);
        l->setTextFormat(Qt::PlainText);
        place(l, x, y, w, h);
        return l;
    };

    // The frames go first so that they lie beneath the controls they surround.
    auto* incrementFrame = new QGroupBox(QStringLiteral("Increment filename"), this);
    place(incrementFrame, 5, 140, 170, 44);
    auto* pageRangeFrame = new QGroupBox(QStringLiteral("Page range filename"), this);
    place(pageRangeFrame, 181, 140, 158, 44);

    // The rest in the order of the tab chain, which is also the order the keyboard visits them.
    m_splitParameters = edit(1004, QStringLiteral("Split Parameters:"), 77, 49, 208, 12);
    m_moveTo = edit(1007, QStringLiteral("Move to dir after split:"), 78, 68, 207, 12);
    m_splitTo = edit(1009, QStringLiteral("Split to Directory:"), 78, 86, 207, 12);
    m_fileList = edit(1013, QStringLiteral("Use as out filenames:"), 78, 109, 207, 12);

    m_keepBookmarks = new QCheckBox(QStringLiteral("Keep Bookmarks:"), this);
    named(m_keepBookmarks, 1026, m_keepBookmarks->text());
    m_keepBookmarks->setLayoutDirection(Qt::RightToLeft); // text on the left
    place(m_keepBookmarks, 14, 127, 72, 10);

    m_skipPages = edit(1028, QStringLiteral("Skip pages:"), 256, 126, 29, 12);

    m_increment = new QRadioButton(QStringLiteral("Incrementing number added to filename"), this);
    named(m_increment, 1011, m_increment->text());
    place(m_increment, 18, 150, 140, 10);
    m_pageRange = new QRadioButton(QStringLiteral("Page range added to filename"), this);
    named(m_pageRange, 1012, m_pageRange->text());
    place(m_pageRange, 193, 151, 111, 10);
    // The two radios sit in different frames but are one choice.
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_increment);
    modes->addButton(m_pageRange);

    m_incrementStart = edit(1027, QStringLiteral("Start increment at:"), 79, 165, 32, 12);
    m_pageOffset = edit(1029, QStringLiteral("Filename page offset:"), 275, 166, 29, 12);

    QPushButton* save = button(1006, QStringLiteral("Save && Exit"), 135, 191, 77, 14);
    QPushButton* cancel = button(1003, QStringLiteral("&Cancel"), 294, 190, 46, 14);
    QPushButton* browseMoveTo = button(1008, QStringLiteral("&Browse"), 288, 68, 38, 12);
    browseMoveTo->setAccessibleDescription(QStringLiteral("Move to dir after split:"));
    QPushButton* browseSplitTo = button(1010, QStringLiteral("&Browse"), 288, 86, 38, 12);
    browseSplitTo->setAccessibleDescription(QStringLiteral("Split to Directory:"));

    m_fileName = edit(1005, QStringLiteral("Filename:"), 78, 22, 207, 12);
    m_fileName->setReadOnly(true);

    label(QStringLiteral("Split Parameters:"), 19, 52, 54, 8);
    label(QStringLiteral("Filename:"), 42, 25, 31, 8);
    label(QStringLiteral("e.g. 1,6-7,9-10  or 5-10n or 1s,2s etc or odd,even SEE HELP FOR "
                         "MORE DETAILS"),
          77, 39, 264, 8);
    label(QStringLiteral("Move to dir after split:"), 3, 71, 68, 8);
    label(QStringLiteral("Split to Directory:"), 16, 88, 54, 8);
    QPushButton* help = button(1023, QStringLiteral("&Help"), 288, 49, 38, 12);
    // Proposals read from the document: beside the fields they fill, after them in the tabs.
    auto* propose = new QPushButton(QStringLiteral("&Propose\u2026"), this);
    propose->setObjectName(QStringLiteral("propose"));
    propose->setAccessibleName(WithoutAccessKeys(propose->text()));
    propose->setAutoDefault(false);
    place(propose, 288, 109, 46, 12);
    setTabOrder(m_fileList, propose);
    label(QStringLiteral("NOTE: all bookmarks are retained."), 91, 128, 110, 8);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("programIcon"));
    icon->setAccessibleName(QStringLiteral("Quillsever"));
    icon->setPixmap(ProgramIcon().pixmap(32, 32));
    icon->setGeometry(
        QRect(DialogUnitsToPixels(dialogFont, QRect(10, 7, 21, 20)).topLeft(), QSize(32, 32)));

    label(QStringLiteral("Pages"), 316, 24, 21, 8);
    m_pages = edit(1018, QStringLiteral("Pages"), 288, 24, 24, 12);
    m_pages->setReadOnly(true);
    m_pages->setFrame(false);
    QPalette flat = m_pages->palette();
    flat.setColor(QPalette::Base, flat.color(QPalette::Window));
    m_pages->setPalette(flat);

    m_useSame = new QCheckBox(QStringLiteral("Use same parameters for future pdf's, this can be "
                                             "turned off in options menu."),
                              this);
    named(m_useSame, 1019, m_useSame->text());
    place(m_useSame, 77, 4, 255, 10);

    label(QStringLiteral("Use as out filenames:"), 4, 111, 68, 8);
    label(QStringLiteral("e.g. 001,002,003,004  - to use set 'Incrementing number added to "
                         "filename' on"),
          78, 100, 246, 8);
    label(QStringLiteral("Start increment at:"), 19, 168, 58, 8);
    label(QStringLiteral("Skip pages:"), 212, 128, 38, 8);
    label(QStringLiteral("Filename page offset:"), 202, 169, 68, 8);

    // The two example lines are wider than their boxes in most fonts: the fields' area grows to
    // hold them whole, with the template's margin, rather than cutting them at the edge.
    const int margin = DialogUnitsToPixels(dialogFont, QRect(0, 0, 7, 0)).width();
    for (const QWidget* text : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (qobject_cast<const QLabel*>(text) || qobject_cast<const QCheckBox*>(text))
            m_controls.setWidth(
                std::max(m_controls.width(), text->x() + text->sizeHint().width() + margin));
    setFixedSize(m_controls);
    LetTextsFit(this);

    connect(save, &QPushButton::clicked, this, &CSplitParametersDialog::OnSaveAndExit);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
    connect(browseMoveTo, &QPushButton::clicked, this, [this] {
        Browse(m_moveTo, "Move To Directory...",
               "Please choose your directory to move to after split...");
    });
    connect(browseSplitTo, &QPushButton::clicked, this, [this] {
        Browse(m_splitTo, "Split To Directory...", "Please choose your directory to split to...");
    });
    connect(help, &QPushButton::clicked, this, [this] {
        if (m_openHelp)
            m_openHelp();
    });
    connect(propose, &QPushButton::clicked, this, [this] {
        const bool filled = ProposeIntoFields(this, PlanJobFromControls(),
                                              m_keepBookmarks->isChecked(), m_splitParameters,
                                              m_fileList, m_increment, m_writtenNames, m_options);
        // The names an earlier proposal wrote are gone from the field unless typed back.
        m_writtenNames.RemoveUnused({m_fileList->text().toStdString(), m_fields.fileList}, false);
        if (filled && m_preview)
            m_preview->UpdateNow();
    });
    // A click on the radio that is already on is no choice at all; a change of choice (by mouse
    // or arrow key) is.
    connect(m_increment, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            OnIncrementClicked();
    });
    connect(m_pageRange, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            OnPageRangeClicked();
    });
    connect(m_keepBookmarks, &QCheckBox::clicked, this, [this] { TakeFields(); });
    connect(m_useSame, &QCheckBox::clicked, this, [this] { TakeFields(); });
}

void CSplitParametersDialog::done(int result) {
    // Cancel keeps what the clicks stored in the fields, but not the names of a proposal that is
    // given up: the file that holds them goes, and nothing may be left naming it.
    if (result != 1 && m_writtenNames.Holds(m_fields.fileList))
        m_fields.fileList = m_fileListAtOpen;
    m_writtenNames.RemoveUnused({m_fields.fileList}, true);
    QDialog::done(result);
}

int CSplitParametersDialog::Open(bool alwaysShow) {
    m_fileListAtOpen = m_fields.fileList;
    // The screen may have changed since the last opening (another monitor, another scale).
    FitPreview();
    m_incrementMode = m_fields.incrementName == "Y";
    {
        const QSignalBlocker quietIncrement(m_increment);
        const QSignalBlocker quietPageRange(m_pageRange);
        (m_incrementMode ? m_increment : m_pageRange)->setChecked(true);
    }
    m_keepBookmarksBox = m_fields.keepBookmarks != "N";
    ShowFields();
    m_splitParameters->setFocus();
    if (!alwaysShow && SaveAndExit())
        return 1;
    return exec() == 1 ? 1 : 0;
}

void CSplitParametersDialog::ShowFields() {
    ShowWhole(m_fileName, m_fields.fileName);
    ShowWhole(m_moveTo, m_fields.moveTo);
    ShowWhole(m_splitParameters, m_fields.splitParameters);
    ShowWhole(m_splitTo, m_fields.splitTo);
    m_pages->setText(QString::number(m_fields.pages));
    m_useSame->setChecked(m_fields.useSame);
    m_incrementStart->setText(QString::number(m_fields.incrementStart));
    m_skipPages->setText(QString::number(m_fields.skipPages));
    m_keepBookmarks->setChecked(m_keepBookmarksBox);
    ShowWhole(m_fileList, m_fields.fileList);
    m_pageOffset->setText(QString::number(m_fields.pageOffset));
}

bool CSplitParametersDialog::TakeFields() {
    // A number field that holds no integer stops the exchange there: it and every field after
    // it keep what they held, and their controls show that again.
    const auto number = [this](QLineEdit* edit, int32_t& field) {
        if (const std::optional<int32_t> value = ParseInteger(edit->text())) {
            field = *value;
            return true;
        }
        m_prompter.Show("Please enter an integer.", {}, core::Buttons::Ok, core::Icon::Warning);
        ShowFields();
        edit->setFocus();
        edit->selectAll();
        return false;
    };
    m_fields.fileName = m_fileName->text().toStdString();
    m_fields.moveTo = m_moveTo->text().toStdString();
    m_fields.splitParameters = m_splitParameters->text().toStdString();
    m_fields.splitTo = m_splitTo->text().toStdString();
    if (!number(m_pages, m_fields.pages))
        return false;
    m_fields.useSame = m_useSame->isChecked();
    if (!number(m_incrementStart, m_fields.incrementStart) ||
        !number(m_skipPages, m_fields.skipPages))
        return false;
    m_keepBookmarksBox = m_keepBookmarks->isChecked();
    m_fields.fileList = m_fileList->text().toStdString();
    return number(m_pageOffset, m_fields.pageOffset);
}

bool CSplitParametersDialog::SaveAndExit() {
    m_fields.incrementName = m_incrementMode ? "Y" : "N";
    m_fields.keepBookmarks = m_keepBookmarksBox ? "Y" : "N";
    TakeFields();
    ShowFields();
    if (!core::CheckSplitParameters(
            {m_fields.splitTo, m_fields.splitParameters, m_fields.pages, m_fields.skipPages},
            m_prompter))
        return false;
    // A job the run would refuse (two ranges given one file name, a name list it cannot use) is
    // refused here, with the run's words, rather than saved into a row that can never run.
    const core::SetupOptions defaults;
    const core::CSplitPlan plan =
        core::CSplitPlan::Make(PlanJobFromControls(), m_options ? *m_options : defaults);
    if (plan.Refused()) {
        m_prompter.Show(plan.Refusal(), plan.RefusalCaption());
        return false;
    }
    return true;
}

void CSplitParametersDialog::OnSaveAndExit() {
    if (SaveAndExit())
        done(1);
}

void CSplitParametersDialog::OnIncrementClicked() {
    TakeFields();
    m_incrementMode = true;
    m_fields.incrementName = "Y";
    ShowFields();
}

void CSplitParametersDialog::OnPageRangeClicked() {
    TakeFields();
    m_incrementMode = false;
    m_fields.usePagesName = "Y";
    ShowFields();
}

void CSplitParametersDialog::Browse(QLineEdit* edit, const std::string& title,
                                    const std::string& prompt) {
    if (!m_chooser)
        return;
    // The field itself is taken at the next Save & Exit or click, like anything typed.
    if (const std::optional<std::string> path =
            m_chooser(title, prompt, edit->text().toStdString()))
        edit->setText(Q(*path));
}

void CSplitParametersDialog::BuildPreview() {
    m_preview = new CPlanPreview([this] { return PlanJobFromControls(); }, this);
    m_preview->SetExpanded(PreviewUnfoldedSetting());
    for (QLineEdit* edit : {m_fileName, m_pages, m_splitParameters, m_splitTo, m_fileList,
                            m_skipPages, m_incrementStart, m_pageOffset})
        connect(edit, &QLineEdit::textChanged, m_preview, &CPlanPreview::Schedule);
    connect(m_increment, &QRadioButton::toggled, m_preview, &CPlanPreview::Schedule);
    connect(m_preview, &CPlanPreview::expandedChanged, this, [this](bool unfolded) {
        PreviewSettings().setValue(QStringLiteral("preview/unfolded"), unfolded);
        FitPreview();
    });
    connect(m_preview, &CPlanPreview::pageRangeChosen, this,
            [this](int first, int last) { AppendRange(first, last); });
    FitPreview();
}

bool CSplitParametersDialog::PreviewUnfoldedSetting() {
    return PreviewSettings().value(QStringLiteral("preview/unfolded"), true).toBool();
}

QRect CSplitParametersDialog::AvailableArea() const {
    const QWidget* anchor = parentWidget() ? parentWidget()->window() : this;
    const QScreen* screen = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    QRect area = screen->availableGeometry();
    // The title bar and borders come on top of the dialog; until the window manager has framed
    // it once, a title bar of two lines of text is assumed.
    const QRect frame = frameGeometry();
    const QRect inner = geometry();
    int top = inner.top() - frame.top(), bottom = frame.bottom() - inner.bottom();
    int sides = (inner.left() - frame.left()) + (frame.right() - inner.right());
    if (top <= 0) {
        top = 2 * fontMetrics().height() + 4;
        bottom = 4;
        sides = 8;
    }
    return area.adjusted(0, 0, -sides, -(top + bottom));
}

void CSplitParametersDialog::FitPreview() {
    const QFont dialogFont = font();
    const QRect margins = DialogUnitsToPixels(dialogFont, QRect(5, 2, 5, 4));
    const QRect area = AvailableArea();
    const int availableWidth = area.isValid() ? area.width() : std::numeric_limits<int>::max();
    const int availableHeight = area.isValid() ? area.height() : std::numeric_limits<int>::max();
    // Beside the fields the preview is a column as tall as they are, so the dialog is no taller
    // than its template; it takes the width the screen has, up to what the pictures and names
    // want, and goes below the fields only on a screen too narrow for a useful column.
    const int wanted = DialogUnitsToPixels(dialogFont, QRect(0, 0, 230, 0)).width();
    const int least = DialogUnitsToPixels(dialogFont, QRect(0, 0, 130, 0)).width();
    const int room = availableWidth - m_controls.width() - margins.x();
    const bool beside = m_preview->Expanded() && room >= least;
    const int below = availableHeight - m_controls.height() - margins.height();
    // A large font on a small screen leaves room for not even the folded preview, beside the
    // fields or below them: the dialog keeps to its fields rather than reach past the screen's
    // edge with the preview cut off there.
    m_preview->setVisible(beside || below >= m_preview->FoldedHeight());
    if (m_preview->isHidden()) {
        setFixedSize(m_controls);
        return;
    }
    m_preview->SetBeside(beside);
    if (beside) {
        const int column = std::min(wanted, room);
        m_preview->setGeometry(m_controls.width(), margins.y(), column,
                               m_controls.height() - margins.y() - margins.height());
        setFixedSize(m_controls.width() + column + margins.x(), m_controls.height());
        return;
    }
    const int height =
        m_preview->Expanded()
            ? std::max(m_preview->FoldedHeight(), std::min(m_preview->UnfoldedHeight(), below))
            : m_preview->FoldedHeight();
    m_preview->setGeometry(margins.x(), m_controls.height(), m_controls.width() - 2 * margins.x(),
                           height);
    setFixedSize(m_controls.width(), m_controls.height() + height + margins.height());
}

void CSplitParametersDialog::SetPlanContext(const core::SetupOptions* options) {
    m_options = options;
    m_preview->SetOptions(options);
}

core::PlanJob CSplitParametersDialog::PlanJobFromControls() const {
    // What a Save & Exit would take from the controls now: fields in the exchange order, and
    // from a number field that holds no integer on, the stored values.
    bool stopped = false;
    const auto number = [&stopped](const QLineEdit* edit, int32_t stored) {
        const std::optional<int32_t> value = stopped ? std::nullopt : ParseInteger(edit->text());
        stopped = !value;
        return value.value_or(stored);
    };
    core::PlanJob job;
    job.source = m_fileName->text().toStdString();
    job.parameters = m_splitParameters->text().toStdString();
    job.splitTo = m_splitTo->text().toStdString();
    job.incrementNames = m_increment->isChecked();
    job.pages = number(m_pages, m_fields.pages);
    job.incrementStart = number(m_incrementStart, m_fields.incrementStart);
    job.skip = number(m_skipPages, m_fields.skipPages);
    job.fileList = stopped ? m_fields.fileList : m_fileList->text().toStdString();
    job.offset = number(m_pageOffset, m_fields.pageOffset);
    return job;
}

void CSplitParametersDialog::AppendRange(int first, int last) {
    QString text = m_splitParameters->text();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char(',')))
        text += QLatin1Char(',');
    text += first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last);
    m_splitParameters->setText(text);
    m_splitParameters->setFocus();
    m_splitParameters->end(false);
}

void CSplitParametersDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Centred over the window, a tall dialog could still reach past the screen's edge.
    if (const QRect area = AvailableArea(); area.isValid()) {
        QPoint at = pos();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
        move(at);
    }
    // The dialog opens with its plan, not a pause later, from the first page and output on
    // rather than where the last opening left them.
    m_preview->UpdateNow();
    m_preview->List()->scrollToTop();
    m_preview->Strip()->horizontalScrollBar()->setValue(0);
}

void CSplitParametersDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter presses the button that has the focus; anywhere else it is Save & Exit, checks
        // and all, so that no string reaches a job unchecked.
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()))
            focused->click();
        else
            OnSaveAndExit();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace ui
