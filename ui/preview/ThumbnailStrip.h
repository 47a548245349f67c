#pragma once

#include "core/SplitPlan.h"

#include <QListView>

#include <memory>

namespace ui {

class CThumbnailRenderer;

// A row of page pictures of the job's source. Each page is framed in the colour of the output
// it goes to; a page in no output is dimmed, a page in several carries their count. Pictures
// are asked for only when a page comes into view. A click picks a page, a shift-click on
// another says pageRangeChosen with the two (lower first); Space and Shift+Space on the current
// page do the same from the keyboard.
class CThumbnailStrip : public QListView {
    Q_OBJECT

  public:
    explicit CThumbnailStrip(QWidget* parent = nullptr);
    ~CThumbnailStrip() override;

    // Shows the pages of `path` (the picture thread opens it); nothing happens when it is the
    // file already shown.
    void ShowFile(const QString& path);
    void SetPlan(std::shared_ptr<const core::CSplitPlan> plan);

    // Page count once the file is open; -1 before, 0 when it cannot be shown.
    int PageCount() const;
    // Why no page is shown; empty while the file opens or when its pages are shown.
    const QString& Problem() const;
    // 1-based page picked by the last plain click, 0 when none.
    int Anchor() const { return m_anchor; }
    // Scrolls page (1-based) into view, when the file has it.
    void ShowPage(int page);
    // The rectangle page (1-based) occupies in the viewport.
    QRect PageRect(int page) const;
    CThumbnailRenderer& Renderer() { return *m_renderer; }

  signals:
    void pageRangeChosen(int first, int last);
    // The file is open (or could not be): see PageCount() and Problem().
    void fileOpened();
    // A page's picture has arrived.
    void pagePainted(int page);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    class Model;
    class Delegate;

    void WithdrawHidden();
    // A plain pick of `page` (1-based) marks it; an extending one after a mark says the range.
    void Pick(int page, bool extend);

    CThumbnailRenderer* m_renderer = nullptr;
    Model* m_model = nullptr;
    std::shared_ptr<const core::CSplitPlan> m_plan;
    int m_anchor = 0;
    QString m_problem;
    QString m_stamp; // size and modification time of the file shown
};

} // namespace ui
