// Preloaded into the real quillsever by a test, this drives the window as a person would:
// it drops one PDF on the window, fills the Split Parameters dialog, presses "Split em'",
// answers message boxes with OK and closes the window when the job's status reaches the one
// asked for. It only ever uses what a person sees: widgets found by their control ids.
//
// QS_AGENT_PDF      the PDFs to drop, separated by ':' (without it the agent does nothing)
// QS_AGENT_PARAMS   the split-parameter string to type
// QS_AGENT_OUT      the split-to folder to type
// QS_AGENT_CLOSE_AT "Processing" or "Done": the status at which the window is closed
// QS_AGENT_MIN_PARTS how many files the split-to folder must hold before it is closed

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {

QWidget* Visible(const char* name) {
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->objectName() == QLatin1String(name) && widget->isVisible())
            return widget;
    return nullptr;
}

class CAgent : public QObject {
  public:
    CAgent() {
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] { Step(); });
        m_timer.start();
    }

  private:
    void Step() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("box: %s: %s\n", qPrintable(box->windowTitle()), qPrintable(box->text()));
            std::fflush(stdout);
            box->done(QMessageBox::Ok);
            return;
        }
        QWidget* window = Visible("dlg102");
        if (!window)
            return;
        switch (m_stage) {
        case 0: {
            auto* data = new QMimeData;
            QList<QUrl> urls;
            for (const QString& path : qEnvironmentVariable("QS_AGENT_PDF").split(QLatin1Char(':')))
                urls << QUrl::fromLocalFile(path);
            m_files = static_cast<int>(urls.size());
            data->setUrls(urls);
            const QPoint at = window->rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &enter);
            QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &drop);
            data->deleteLater();
            m_stage = 1;
            break;
        }
        case 1: {
            QWidget* dialog = Visible("dlg129");
            if (!dialog)
                return;
            dialog->findChild<QLineEdit*>("ctl1004")->setText(
                qEnvironmentVariable("QS_AGENT_PARAMS"));
            dialog->findChild<QLineEdit*>("ctl1009")->setText(qEnvironmentVariable("QS_AGENT_OUT"));
            dialog->findChild<QPushButton*>("ctl1006")->click();
            if (++m_filled == m_files)
                m_stage = 2;
            break;
        }
        case 2: {
            QAbstractItemModel* model = window->findChild<QTableView*>("ctl1000")->model();
            if (model->rowCount() != m_files || Visible("dlg129"))
                return;
            for (int row = 0; row < m_files; ++row)
                if (model->index(row, 2).data().toString().isEmpty())
                    return;
            // Pressed from the event loop, so this timer keeps running inside the run.
            QMetaObject::invokeMethod(window->findChild<QPushButton*>("ctl1002"), "click",
                                      Qt::QueuedConnection);
            m_stage = 3;
            break;
        }
        case 3: {
            QAbstractItemModel* model = window->findChild<QTableView*>("ctl1000")->model();
            const QString status = model->index(0, 4).data().toString();
            const QString label = window->findChild<QPushButton*>("ctl1002")->text();
            const QString closeAt = qEnvironmentVariable("QS_AGENT_CLOSE_AT");
            if (status != closeAt || (closeAt == QLatin1String("Done") && label != "Split em'"))
                return;
            const QDir out(qEnvironmentVariable("QS_AGENT_OUT"));
            if (out.entryList(QDir::Files).size() <
                qEnvironmentVariableIntValue("QS_AGENT_MIN_PARTS"))
                return;
            std::printf("closing at: %s\n", qPrintable(status));
            std::fflush(stdout);
            m_stage = 4;
            window->close();
            break;
        }
        default:
            break;
        }
    }

    QTimer m_timer;
    int m_stage = 0;
    int m_files = 0;
    int m_filled = 0;
};

void StartAgent() {
    if (qEnvironmentVariableIsEmpty("QS_AGENT_PDF"))
        return;
    new CAgent; // lives as long as the program
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(StartAgent)
