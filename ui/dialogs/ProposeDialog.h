#pragma once

#include "core/SplitPlan.h"
#include "propose/NamesFile.h"
#include "propose/PartNamer.h"
#include "propose/Proposal.h"

#include <QDialog>

#include <memory>
#include <string>
#include <thread>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace ui {

// "Propose Split Parameters": reads the job's source and proposes a split-parameter string
// (and names) at its bookmarks, by a size per part, at blank pages or at a text. The reading
// runs on a thread of its own while the dialog shows how far it has come; Stop (or closing)
// ends it at its next page. Accepted once a proposal is there.
class CProposeDialog final : public QDialog {
    Q_OBJECT

  public:
    // keepBookmarks, names and folder (the split-to folder): parts are measured as the job
    // will write and name them.
    CProposeDialog(std::string source, bool keepBookmarks, propose::PartNamer names,
                   QWidget* parent = nullptr, std::string folder = {});
    ~CProposeDialog() override;

    const propose::Proposal& Result() const { return m_result; }
    bool Running() const { return m_thread.joinable(); }

  public slots:
    void reject() override;

  private:
    struct Work;

    void Build();
    void Start();
    void Poll();
    void Finished();
    void Stop();
    void ShowStatus(const QString& text, bool problem = false);
    void SetIdle(bool idle);

    std::string m_source;
    bool m_keepBookmarks;
    propose::PartNamer m_names;
    std::string m_folder;
    propose::Proposal m_result;
    std::shared_ptr<Work> m_work;
    std::thread m_thread;
    bool m_closeWhenStopped = false;

    QRadioButton* m_atBookmarks = nullptr;
    QSpinBox* m_level = nullptr;
    QRadioButton* m_bySize = nullptr;
    QDoubleSpinBox* m_size = nullptr;
    QComboBox* m_unit = nullptr;
    QRadioButton* m_atBlank = nullptr;
    QCheckBox* m_allowInk = nullptr;
    QDoubleSpinBox* m_ink = nullptr;
    QRadioButton* m_atText = nullptr;
    QLineEdit* m_pattern = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_propose = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
    QTimer* m_poll = nullptr;
};

// Opens the dialog for `job` as the fields hold it; a proposal fills the split-parameter field
// and, when it names its parts, the file list (with a names file) and the incrementing-names
// choice. True when the fields were filled. A names file it creates is counted in `written`,
// whose owner removes it again when its names end up in no job. Parts are measured and named
// with `options`, the setup the run will use (setup.ini as it is now when null).
bool ProposeIntoFields(QWidget* parent, const core::PlanJob& job, bool keepBookmarks,
                       QLineEdit* parameters, QLineEdit* fileList, QRadioButton* increment,
                       propose::CWrittenNames& written,
                       const core::SetupOptions* options = nullptr);

} // namespace ui
