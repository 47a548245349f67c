#pragma once

#include "core/SetupOptions.h"
#include "core/SplitPlan.h"

#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QTimer;
class QToolButton;
class QTreeView;

namespace ui {

class CPlanModel;
class CThumbnailStrip;

// What a job will give before it is split: a summary line, the pages of the source framed by
// output, and every output with its file name. It follows the fields as they are typed,
// shortly after the typing pauses, so a long string is not worked out at every key.
class CPlanPreview : public QWidget {
    Q_OBJECT

  public:
    // job: reads the job as the fields hold it now.
    CPlanPreview(std::function<core::PlanJob()> job, QWidget* parent = nullptr);
    ~CPlanPreview() override;

    // The naming options outputs are named with (nullptr: the defaults).
    void SetOptions(const core::SetupOptions* options);

    // The fields changed: work the plan out again once the typing pauses.
    void Schedule();
    // Works the plan out at once (and shows the source's pages, when shown).
    void UpdateNow();

    bool Expanded() const;
    void SetExpanded(bool expanded);

    // The heights the preview takes folded and unfolded below the fields.
    int FoldedHeight() const;
    int UnfoldedHeight() const;
    // Beside the fields, in a column as tall as they are, the texts wrap and the list of
    // outputs takes the height left; below them, everything keeps to its line.
    void SetBeside(bool beside);

    QLabel* Summary() const { return m_summary; }
    CPlanModel* Model() const { return m_model; }
    QTreeView* List() const { return m_list; }
    CThumbnailStrip* Strip() const { return m_strip; }
    std::shared_ptr<const core::CSplitPlan> Plan() const { return m_plan; }
    // How long the last plan took to work out and hand to the list, in milliseconds.
    double LastUpdateMilliseconds() const { return m_lastMilliseconds; }

  signals:
    void expandedChanged(bool expanded);
    // Pages picked in the strip (click, then shift-click).
    void pageRangeChosen(int first, int last);

  private:
    void ShowSummary();

    std::function<core::PlanJob()> m_job;
    const core::SetupOptions* m_options = nullptr;
    core::SetupOptions m_defaults;
    std::shared_ptr<const core::CSplitPlan> m_plan;
    double m_lastMilliseconds = 0;

    QTimer* m_debounce = nullptr;
    QToolButton* m_toggle = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_hint = nullptr;
    QWidget* m_body = nullptr;
    CThumbnailStrip* m_strip = nullptr;
    CPlanModel* m_model = nullptr;
    QTreeView* m_list = nullptr;
};

} // namespace ui
