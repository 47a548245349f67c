#pragma once

// Shared by the window's Qt Test suites (header only: each suite is its own executable).

#include "ui/window/JobListOperations.h"
#include "ui/window/MainWindow.h"

#include <QApplication>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// The Split Parameters dialog replaced by a script: every opening is recorded, and each answer
// may change the fields before it accepts (1) or cancels (0). With the script dry it cancels.
class CScriptedParameterDialog final : public ui::ParameterDialog {
  public:
    struct Opening {
        std::string fileName;
        int32_t pages;
        bool alwaysShow;
        ui::SplitParametersFields fields; // as the caller left them
    };
    struct Reply {
        int result = 1;
        std::function<void(ui::SplitParametersFields&)> edit = {};
    };

    ui::SplitParametersFields& Fields() override { return fields; }
    int Open(bool alwaysShow) override {
        openings.push_back({fields.fileName, fields.pages, alwaysShow, fields});
        if (replies.empty())
            return 0;
        Reply reply = replies.front();
        replies.pop_front();
        if (reply.edit)
            reply.edit(fields);
        return reply.result;
    }

    ui::SplitParametersFields fields;
    std::deque<Reply> replies;
    std::vector<Opening> openings;
};

// Runs `step` on every modal dialog that comes up, until it returns true for the last time
// it is needed: a repeating zero timer, so it also fires inside nested event loops.
class CModalDriver {
  public:
    explicit CModalDriver(std::function<bool(QWidget*)> step) : m_step(std::move(step)) {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget())
                if (m_step(modal))
                    ++handled;
        });
        m_timer.start();
    }
    int handled = 0;

  private:
    std::function<bool(QWidget*)> m_step;
    QTimer m_timer;
};

} // namespace testing_support
