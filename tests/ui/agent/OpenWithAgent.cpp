// Preloaded into the real quillsever by OpenWithTest, this answers what start-up asks of a
// person: every Split Parameters prompt is filled in and saved, every message box is answered
// with OK. Once the list holds the jobs asked for, each with its parameters, it prints them and
// closes the window. It only ever uses what a person sees: widgets found by their control ids.
//
// QS_OPENWITH_JOBS    how many jobs to wait for (without it the agent does nothing)
// QS_OPENWITH_PARAMS  the split-parameter string to type into each prompt
// QS_OPENWITH_OUT     the split-to folder to type into each prompt

#include <QAbstractItemModel>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <cstdio>

namespace {

QWidget* Visible(const char* name) {
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->objectName() == QLatin1String(name) && widget->isVisible())
            return widget;
    return nullptr;
}

void Say(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class COpenWithAgent : public QObject {
  public:
    COpenWithAgent() {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] { Step(); });
        m_timer.start();
    }

  private:
    void Step() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            Say("box: " + box->windowTitle() + ": " + box->text());
            box->done(QMessageBox::Ok);
            return;
        }
        QWidget* window = Visible("dlg102");
        if (!window || m_closed)
            return;
        if (!m_ready) {
            // From here on the window takes files from later starts.
            m_ready = true;
            Say("ready");
        }
        if (QWidget* dialog = Visible("dlg129")) {
            if (dialog == m_lastPrompt)
                return; // saved already, still closing
            m_lastPrompt = dialog;
            dialog->findChild<QLineEdit*>("ctl1004")->setText(
                qEnvironmentVariable("QS_OPENWITH_PARAMS"));
            dialog->findChild<QLineEdit*>("ctl1009")->setText(
                qEnvironmentVariable("QS_OPENWITH_OUT"));
            ++m_prompts;
            QMetaObject::invokeMethod(dialog->findChild<QPushButton*>("ctl1006"), "click",
                                      Qt::QueuedConnection);
            return;
        }
        m_lastPrompt = nullptr;
        QAbstractItemModel* model = window->findChild<QTableView*>("ctl1000")->model();
        const int jobs = qEnvironmentVariableIntValue("QS_OPENWITH_JOBS");
        if (model->rowCount() != jobs)
            return;
        for (int row = 0; row < jobs; ++row)
            if (model->index(row, 2).data().toString().isEmpty())
                return;
        Say(QString("prompts: %1").arg(m_prompts));
        for (int row = 0; row < jobs; ++row)
            Say("job: " + model->index(row, 1).data().toString() + "\t" +
                model->index(row, 2).data().toString() + "\t" +
                model->index(row, 3).data().toString());
        m_closed = true;
        window->close();
    }

    QTimer m_timer;
    bool m_ready = false;
    bool m_closed = false;
    int m_prompts = 0;
    QWidget* m_lastPrompt = nullptr;
};

void StartAgent() {
    if (qEnvironmentVariableIsEmpty("QS_OPENWITH_JOBS"))
        return;
    new COpenWithAgent; // lives as long as the program
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartAgent)
