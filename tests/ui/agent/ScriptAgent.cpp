// Preloaded into the real quillsever by RealWindowTest, this plays a script the way a person
// would: keys go to the control that has the focus, buttons and menu entries are pressed,
// prompts are filled in. It prints what a person would see: every message box ("box: caption:
// text"), every help page opened ("help: page#anchor") and the rows when asked ("row: file:
// status"). A box the script does not answer is answered OK, or No when it asks.
//
// QS_SCRIPT  steps separated by ';' (without it the agent does nothing):
//   drop:FILE  fill:PARAMS  press:NAME  menu:NAME  key:KEY@NAME  answer:BUTTON  help  rm:FILE
//   until:parts=N  until:idle  report  close  set:NAME=VALUE  until:NAME (enabled)
//   say:NAME (what an assistive tool hears it called: "said: name")

#include <QAbstractItemModel>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

QWidget* Visible(const QString& name) {
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->objectName() == name && widget->isVisible())
            return widget;
    return nullptr;
}

void Say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class CScriptAgent : public QObject {
  public:
    CScriptAgent() : m_steps(qEnvironmentVariable("QS_SCRIPT").split(QLatin1Char(';'))) {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_next < m_steps.size() &&
                Step(m_steps[m_next].section(':', 0, 0), m_steps[m_next].section(':', 1)))
                ++m_next;
        });
        m_timer.start();
    }

  private:
    // Carries out one step; false while what it waits for has not come.
    bool Step(const QString& verb, const QString& arg) {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            Say("box: " + box->windowTitle() + ": " + box->text());
            QAbstractButton* button = box->button(QMessageBox::No) ? box->button(QMessageBox::No)
                                                                   : box->button(QMessageBox::Ok);
            for (QAbstractButton* b : box->buttons())
                if (verb == "answer" && b->text().remove('&') == arg)
                    button = b;
            QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
            return verb == "answer";
        }
        QWidget* window = Visible("dlg102");
        if (!window || verb == "answer")
            return false;
        const auto model = [window] { return window->findChild<QTableView*>("ctl1000")->model(); };
        if (verb == "drop") {
            auto* data = new QMimeData;
            data->setUrls({QUrl::fromLocalFile(QDir::current().absoluteFilePath(arg))});
            const QPoint at = window->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &enter);
            QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &drop);
            data->deleteLater();
        } else if (verb == "fill") {
            QWidget* dialog = Visible("dlg129");
            if (!dialog)
                return false;
            dialog->findChild<QLineEdit*>("ctl1004")->setText(arg);
            dialog->findChild<QLineEdit*>("ctl1009")->setText(QDir::current().filePath("parts"));
            QMetaObject::invokeMethod(dialog->findChild<QPushButton*>("ctl1006"), "click",
                                      Qt::QueuedConnection);
        } else if (verb == "press" || verb == "key") {
            QWidget* target = Visible(arg.section('@', -1));
            // Keys only once the window they are for is the one taking input.
            if (!target || (verb == "key" && target->window() != QApplication::activeModalWidget()))
                return false;
            if (verb == "press")
                return QMetaObject::invokeMethod(target, "click", Qt::QueuedConnection);
            target->setFocus();
            const QString name = arg.section('@', 0, 0);
            const int key = name == "F1"       ? Qt::Key_F1
                            : name == "Return" ? Qt::Key_Return
                                               : Qt::Key_Escape;
            QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyPress, key, {}));
            QCoreApplication::postEvent(target, new QKeyEvent(QEvent::KeyRelease, key, {}));
        } else if (verb == "menu") {
            QMetaObject::invokeMethod(window->findChild<QAction*>(arg), "trigger",
                                      Qt::QueuedConnection);
        } else if (verb == "help") {
            auto* browser = qobject_cast<QTextBrowser*>(Visible("helpBrowser"));
            if (!browser)
                return false;
            const QUrl page = browser->source();
            Say("help: " + page.fileName() + (page.hasFragment() ? "#" + page.fragment() : ""));
            browser->window()->close();
        } else if (verb == "rm") {
            QFile::remove(arg);
        } else if (verb == "set" || verb == "say" || (verb == "until" && Visible(arg))) {
            QWidget* target = Visible(arg.section('=', 0, 0));
            if (!target || !target->isEnabled())
                return false;
            if (verb == "say")
                Say("said: " +
                    QAccessible::queryAccessibleInterface(target)->text(QAccessible::Name));
            else if (auto* list = qobject_cast<QComboBox*>(target); list && verb == "set")
                list->setCurrentText(arg.section('=', 1));
            else if (auto* edit = qobject_cast<QLineEdit*>(target); edit && verb == "set")
                edit->setText(arg.section('=', 1));
            else if (verb == "set")
                target->setProperty("value", arg.section('=', 1).toDouble());
        } else if (verb == "until") {
            if (arg == "idle")
                return window->findChild<QPushButton*>("ctl1002")->text() == "Split em'";
            return QDir("parts").entryList(QDir::Files).size() >= arg.section('=', 1).toInt();
        } else if (verb == "report") {
            for (int row = 0; row < model()->rowCount(); ++row)
                Say("row: " + model()->index(row, 1).data().toString().section('/', -1) + ": " +
                    model()->index(row, 4).data().toString());
        } else if (verb == "close") {
            window->close();
        }
        return true;
    }

    QStringList m_steps;
    qsizetype m_next = 0;
    QTimer m_timer;
};

void StartAgent() {
    if (!qEnvironmentVariableIsEmpty("QS_SCRIPT"))
        new CScriptAgent; // lives as long as the program
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartAgent)
