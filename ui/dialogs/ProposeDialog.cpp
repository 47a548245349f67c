#include "ui/dialogs/ProposeDialog.h"

#include "core/OutputNaming.h"
#include "propose/BlankProposer.h"
#include "propose/BookmarkProposer.h"
#include "propose/NamesFile.h"
#include "propose/SafeName.h"
#include "propose/SizeProposer.h"
#include "propose/TextProposer.h"
#include "ui/dialogs/DialogUnits.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <cmath>

namespace ui {

// What the reading thread and the dialog share: the dialog asks it to stop and reads how far
// it has come; the thread writes the result before it says it has finished.
struct CProposeDialog::Work {
    std::atomic<int> done{0};
    std::atomic<int> total{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{false};
    propose::Proposal result;
};

namespace {

// How long a reading asked to stop may take to let go before the dialog goes without it.
constexpr int kLetGoMs = 1000;

// The choices of the last proposal, offered again the next time within the session.
struct Choices {
    int mode = 0;
    int level = 1;
    double size = 10;
    int unit = 1; // 0 KiB, 1 MiB
    bool allowInk = false;
    double ink = 0.05;
    QString pattern;
};
Choices& LastChoices() {
    static Choices choices;
    return choices;
}

} // namespace

CProposeDialog::CProposeDialog(std::string source, bool keepBookmarks, propose::PartNamer names,
                               QWidget* parent, std::string folder)
    : QDialog(parent), m_source(std::move(source)), m_keepBookmarks(keepBookmarks),
      m_names(std::move(names)), m_folder(std::move(folder)) {
    SetUpModalDialog(*this, QStringLiteral("dlgPropose"),
                     QStringLiteral("Propose Split Parameters"));
    SetHelpTopic(*this, QStringLiteral("proposals"));
    Build();
}

CProposeDialog::~CProposeDialog() {
    if (!m_thread.joinable())
        return;
    m_work->stop = true;
    // The program may be ending: a page the reader cannot leave must not hold it.
    for (int waited = 0; waited < kLetGoMs && !m_work->finished; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (m_work->finished)
        m_thread.join();
    else
        m_thread.detach();
}

void CProposeDialog::Build() {
    const auto named = [](QWidget* widget, const QString& name, const char* objectName) {
        widget->setObjectName(QString::fromLatin1(objectName));
        widget->setAccessibleName(WithoutAccessKeys(name));
        return widget;
    };
    auto* intro = new QLabel(
        QStringLiteral("Read the file and propose where its parts begin, and their names:"), this);
    intro->setWordWrap(true);

    m_atBookmarks = new QRadioButton(QStringLiteral("At &bookmarks, down to level"), this);
    m_level = new QSpinBox(this);
    m_level->setRange(1, 99);
    m_bySize = new QRadioButton(QStringLiteral("Parts of at &most"), this);
    m_size = new QDoubleSpinBox(this);
    m_size->setRange(0.1, 1e6);
    m_size->setDecimals(1);
    m_unit = new QComboBox(this);
    m_unit->addItems({QStringLiteral("KiB"), QStringLiteral("MiB")});
    m_atBlank = new QRadioButton(QStringLiteral("At b&lank pages, which go into no part"), this);
    m_allowInk = new QCheckBox(QStringLiteral("Scans: allow &ink on up to"), this);
    m_ink = new QDoubleSpinBox(this);
    m_ink->setRange(0.01, 10);
    m_ink->setDecimals(2);
    m_ink->setSingleStep(0.01);
    m_ink->setSuffix(QStringLiteral(" % of a page"));
    m_atText = new QRadioButton(QStringLiteral("At pages whose &text matches"), this);
    m_pattern = new QLineEdit(this);
    m_pattern->setPlaceholderText(QStringLiteral("e.g. ^INVOICE (\\d+)"));
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_propose = new QPushButton(QStringLiteral("&Propose"), this);
    m_propose->setDefault(true);
    m_stop = new QPushButton(QStringLiteral("&Stop"), this);
    m_close = new QPushButton(QStringLiteral("&Close"), this);
    named(m_atBookmarks, m_atBookmarks->text(), "proposeAtBookmarks");
    named(m_level, QStringLiteral("Bookmark level"), "proposeLevel");
    named(m_bySize, m_bySize->text(), "proposeBySize");
    named(m_size, QStringLiteral("Largest part"), "proposeSize");
    named(m_unit, QStringLiteral("Unit of the largest part"), "proposeUnit");
    // On this desktop an assistive tool hears a list box by the entry it shows ("MiB"); the
    // description says what the entry is of.
    m_unit->setAccessibleDescription(m_unit->accessibleName());
    named(m_atBlank, m_atBlank->text(), "proposeAtBlank");
    named(m_allowInk, m_allowInk->text(), "proposeAllowInk");
    named(m_ink, QStringLiteral("Ink allowed on a blank page, percent"), "proposeInk");
    named(m_atText, m_atText->text(), "proposeAtText");
    named(m_pattern, QStringLiteral("Regular expression"), "proposePattern");
    named(m_progress, QStringLiteral("Pages read"), "proposeProgress");
    named(m_status, QStringLiteral("Outcome"), "proposeOutcome");
    named(m_propose, m_propose->text(), "proposeStart");
    named(m_stop, m_stop->text(), "proposeStop");
    named(m_close, m_close->text(), "proposeClose");

    auto* modes = new QButtonGroup(this);
    for (QRadioButton* mode : {m_atBookmarks, m_bySize, m_atBlank, m_atText})
        modes->addButton(mode);
    auto* grid = new QGridLayout;
    grid->addWidget(m_atBookmarks, 0, 0);
    // Numbers keep their width when the dialog grows; the expression takes the room.
    auto* level = new QHBoxLayout;
    level->addWidget(m_level);
    level->addStretch();
    grid->addLayout(level, 0, 1);
    grid->addWidget(m_bySize, 1, 0);
    auto* size = new QHBoxLayout;
    size->addWidget(m_size);
    size->addWidget(m_unit);
    size->addStretch();
    grid->addLayout(size, 1, 1);
    grid->addWidget(m_atBlank, 2, 0, 1, 2);
    auto* ink = new QHBoxLayout;
    ink->addSpacing(fontMetrics().averageCharWidth() * 3);
    ink->addWidget(m_allowInk);
    ink->addWidget(m_ink);
    ink->addStretch();
    grid->addLayout(ink, 3, 0, 1, 2);
    grid->addWidget(m_atText, 4, 0);
    grid->addWidget(m_pattern, 4, 1);
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_propose);
    buttons->addWidget(m_stop);
    buttons->addWidget(m_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(grid);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addStretch();
    layout->addLayout(buttons);
    m_pattern->setMinimumWidth(fontMetrics().averageCharWidth() * 28);
    m_level->setMinimumWidth(fontMetrics().averageCharWidth() * 8);
    m_size->setMinimumWidth(fontMetrics().averageCharWidth() * 12);

    const Choices& last = LastChoices();
    modes->buttons().at(std::clamp(last.mode, 0, 3))->setChecked(true);
    m_level->setValue(last.level);
    m_size->setValue(last.size);
    m_unit->setCurrentIndex(last.unit);
    m_allowInk->setChecked(last.allowInk);
    m_ink->setValue(last.ink);
    m_pattern->setText(last.pattern);
    // Typing a setting chooses its way of proposing.
    const auto choose = [](QRadioButton* mode) { return [mode] { mode->setChecked(true); }; };
    connect(m_level, &QSpinBox::valueChanged, this, choose(m_atBookmarks));
    connect(m_size, &QDoubleSpinBox::valueChanged, this, choose(m_bySize));
    connect(m_unit, &QComboBox::activated, this, choose(m_bySize));
    connect(m_allowInk, &QCheckBox::toggled, this, choose(m_atBlank));
    connect(m_ink, &QDoubleSpinBox::valueChanged, this, choose(m_atBlank));
    connect(m_pattern, &QLineEdit::textEdited, this, choose(m_atText));

    m_poll = new QTimer(this);
    m_poll->setInterval(50);
    connect(m_poll, &QTimer::timeout, this, &CProposeDialog::Poll);
    connect(m_propose, &QPushButton::clicked, this, &CProposeDialog::Start);
    connect(m_stop, &QPushButton::clicked, this, &CProposeDialog::Stop);
    connect(m_close, &QPushButton::clicked, this, &CProposeDialog::reject);
    SetIdle(true);
}

void CProposeDialog::SetIdle(bool idle) {
    for (QWidget* input : std::initializer_list<QWidget*>{m_atBookmarks, m_level, m_bySize, m_size,
                                                          m_unit, m_atBlank, m_allowInk, m_ink,
                                                          m_atText, m_pattern, m_propose})
        input->setEnabled(idle);
    m_stop->setEnabled(!idle);
    if (idle)
        m_propose->setFocus();
    else
        m_stop->setFocus();
}

void CProposeDialog::ShowStatus(const QString& text, bool problem) {
    m_status->setStyleSheet(problem ? QStringLiteral("color: #b00020") : QString());
    m_status->setText(text);
    // A label named on its own is heard by its name alone: the name carries the message, or an
    // assistive tool would never hear why nothing was proposed.
    m_status->setAccessibleName(text.isEmpty() ? QStringLiteral("Outcome") : text);
    // A message of several lines needs room the dialog did not have when it opened: it grows
    // rather than squeezing the fields above it.
    if (QLayout* box = layout(); box && box->hasHeightForWidth()) {
        box->activate();
        if (const int needed = box->totalHeightForWidth(width()); needed > height())
            resize(width(), needed);
    }
}

void CProposeDialog::Start() {
    Choices& last = LastChoices();
    last.mode = m_atBookmarks->isChecked() ? 0
                : m_bySize->isChecked()    ? 1
                : m_atBlank->isChecked()   ? 2
                                           : 3;
    last.level = m_level->value();
    last.size = m_size->value();
    last.unit = m_unit->currentIndex();
    last.allowInk = m_allowInk->isChecked();
    last.ink = m_ink->value();
    last.pattern = m_pattern->text();
    const std::string pattern = last.pattern.toStdString();
    if (last.mode == 3) {
        const std::string problem =
            pattern.empty() ? "Type the text to look for." : propose::PatternProblem(pattern);
        if (!problem.empty()) {
            ShowStatus(QString::fromStdString(problem), true);
            m_pattern->setFocus();
            return;
        }
    }
    m_work = std::make_shared<Work>();
    ShowStatus(QStringLiteral("Reading the file..."));
    m_progress->setRange(0, 0); // busy until the first page is counted
    SetIdle(false);

    const int mode = last.mode;
    const int level = last.level;
    const auto bytes =
        static_cast<int64_t>(std::llround(last.size * (last.unit == 0 ? 1024.0 : 1024.0 * 1024.0)));
    propose::BlankRule rule;
    if (last.allowInk)
        rule.maxInkPercent = last.ink;
    m_thread = std::thread([work = m_work, source = m_source, keep = m_keepBookmarks,
                            names = m_names, folder = m_folder, mode, level, bytes, rule, pattern] {
        const propose::Progress progress = [&work](int done, int total) {
            work->total = total;
            work->done = done;
            return !work->stop;
        };
        try {
            switch (mode) {
            case 0:
                work->result = propose::ProposeAtBookmarks(source, level);
                break;
            case 1:
                work->result = propose::ProposeBySize(
                    source, {std::max<int64_t>(1, bytes), keep, names, folder}, progress);
                break;
            case 2:
                work->result = propose::ProposeAtBlankPages(source, rule, progress);
                break;
            default:
                work->result = propose::ProposeAtText(source, pattern, progress);
            }
        } catch (const std::exception& e) {
            work->result = {};
            work->result.failure = e.what();
        }
        work->finished = true;
    });
    m_poll->start();
}

void CProposeDialog::Poll() {
    if (!m_work)
        return;
    const int total = m_work->total;
    if (total > 0) {
        m_progress->setRange(0, total);
        m_progress->setValue(m_work->done);
        if (!m_work->stop)
            ShowStatus(QStringLiteral("Page %1 of %2...")
                           .arg(std::min(total, m_work->done + 1))
                           .arg(total));
    }
    if (m_work->finished)
        Finished();
}

void CProposeDialog::Finished() {
    m_poll->stop();
    m_thread.join();
    propose::Proposal result = std::move(m_work->result);
    m_work.reset();
    // A job that holds more parts than a run can make would only be refused at Save & Exit,
    // with the fields already overwritten: the proposal is turned down here instead.
    propose::RefuseMoreThanAJob(result);
    m_progress->setRange(0, 1);
    m_progress->setValue(result.Ok() ? 1 : 0);
    SetIdle(true);
    if (m_closeWhenStopped) {
        QDialog::reject();
        return;
    }
    if (result.cancelled) {
        ShowStatus(QStringLiteral("Stopped; nothing was proposed."));
        return;
    }
    if (!result.Ok()) {
        ShowStatus(QString::fromStdString(result.failure), true);
        return;
    }
    m_result = result;
    accept();
}

void CProposeDialog::Stop() {
    if (!m_work)
        return;
    m_work->stop = true;
    m_stop->setEnabled(false);
    ShowStatus(QStringLiteral("Stopping..."));
}

void CProposeDialog::reject() {
    // Closing while the file is read stops the reading first; the dialog closes as soon as
    // the thread has let go, without holding the window up meanwhile.
    if (m_thread.joinable()) {
        m_closeWhenStopped = true;
        Stop();
        // Some pages cannot be left midway (one very large page being drawn): then the dialog
        // closes without the thread, which has all it uses to itself and ends on its own,
        // rather than keep the window under it shut.
        QTimer::singleShot(kLetGoMs, this, [this] {
            if (!m_thread.joinable())
                return;
            m_poll->stop();
            m_thread.detach();
            m_work.reset();
            SetIdle(true);
            QDialog::reject();
        });
        return;
    }
    QDialog::reject();
}

namespace {

// What a proposal noted (pages larger than the limit on their own), shown over the fields it
// filled. A long scan can note every page: the box names the first few and keeps the whole list
// in its details, so that it never grows past the screen and its button stays in reach.
void ShowNotes(QWidget* parent, const std::vector<std::string>& notes) {
    if (notes.empty())
        return;
    // Up to eight, as many as leave the screen room for the details below them: a note may take
    // three lines, and the box's buttons, details and frame some fourteen more.
    const QScreen* screen =
        parent && parent->screen() ? parent->screen() : QGuiApplication::primaryScreen();
    const QFontMetrics metrics =
        parent ? parent->fontMetrics() : QFontMetrics(QGuiApplication::font());
    const int lines = screen ? screen->availableGeometry().height() / metrics.height() : 100;
    const qsizetype kShown = std::clamp((lines - 14) / 3, 2, 8);
    QStringList all;
    for (const std::string& note : notes)
        all << QString::fromStdString(note);
    QStringList shown = all.mid(0, kShown);
    if (all.size() > kShown)
        shown << QStringLiteral("And %1 more: see the details.").arg(all.size() - kShown);
    QMessageBox box(QMessageBox::Information, QStringLiteral("Propose Split Parameters"),
                    shown.join(QLatin1Char('\n')), QMessageBox::Ok, parent);
    if (all.size() > kShown)
        box.setDetailedText(all.join(QLatin1Char('\n')));
    box.exec();
}

} // namespace

bool ProposeIntoFields(QWidget* parent, const core::PlanJob& job, bool keepBookmarks,
                       QLineEdit* parameters, QLineEdit* fileList, QRadioButton* increment,
                       propose::CWrittenNames& written, const core::SetupOptions* runOptions) {
    // Sizes are measured, and names cut to fit the disk, with the names the run will give the
    // parts: the session's setup, which Setup may have changed without writing setup.ini.
    core::SetupOptions options;
    if (runOptions)
        options = *runOptions;
    else
        core::LoadSetupOptions(options);
    CProposeDialog dialog(job.source, keepBookmarks, propose::JobPartNamer(job, options), parent,
                          job.splitTo);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const propose::Proposal& proposal = dialog.Result();
    const QString text = QString::fromStdString(proposal.Parameters());
    parameters->setMaxLength(std::max(parameters->maxLength(), static_cast<int>(text.size())));
    parameters->setText(text);
    // Names an earlier proposal wrote for this file belong to its parts, not to these.
    if (proposal.names.empty() &&
        propose::IsNamesFileOf(fileList->text().toStdString(), job.source))
        fileList->clear();
    if (!proposal.names.empty()) {
        std::string failure;
        std::vector<std::string> names = proposal.names;
        propose::FitNames(names, propose::ListedNameRoom(job.source, options));
        const propose::NamesFile file = propose::WriteNamesFile(job.source, names, failure);
        if (file.list.empty()) {
            QMessageBox::warning(parent, QStringLiteral("Propose Split Parameters"),
                                 QString::fromStdString(failure));
        } else {
            written.Add(file);
            fileList->setText(QString::fromStdString(file.list));
            increment->setChecked(true);
        }
    }
    ShowNotes(parent, proposal.notes);
    return true;
}

} // namespace ui
