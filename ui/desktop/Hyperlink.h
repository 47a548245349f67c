#pragma once

#include "core/Prompter.h"

#include <QColor>
#include <QLabel>

#include <functional>
#include <string>

namespace ui {

// A text that looks and acts like a link: underlined, drawn in the link colour (the visited
// colour after it was opened, the highlight colour while the pointer is over it), the hand
// cursor, the address as tooltip; a click opens the address and a failure beeps and says why.
class CHyperlink : public QLabel {
    Q_OBJECT
  public:
    // Opens an address; returns a result code as OpenLink does (greater than 32 is success).
    using Opener = std::function<int(const std::string& address)>;
    // Starts opening an address and tells the result code when it is known.
    using AsyncOpener =
        std::function<void(const std::string& address, std::function<void(int)> result)>;

    static constexpr QColor kLinkColour{100, 10, 14};
    static constexpr QColor kVisitedColour{200, 200, 200};

    explicit CHyperlink(const QString& text = {}, QWidget* parent = nullptr);

    // May be called before the link is shown; the values are applied when it is.
    void SetUrl(const QString& url);
    QString Url() const { return m_url; }
    void SetUnderline(bool underline);
    void SetVisited(bool visited);
    bool Visited() const { return m_visited; }
    bool Over() const { return m_over; }
    void SetAdjustToFit(bool adjust) { m_adjustToFit = adjust; }
    QColor HoverColour() const { return m_hoverColour; }

    // Who opens the address (OpenLink unless replaced) and who reports a failure (nobody
    // unless set: the failure then only beeps).
    void SetOpener(Opener opener);
    void SetOpener(AsyncOpener opener) { m_opener = std::move(opener); }
    void SetPrompter(core::Prompter* prompter) { m_prompter = prompter; }

    // The colour the text is drawn in now.
    QColor TextColour() const;

    // What a click does: starts opening the address; the colour and any report follow when the
    // result comes, while the window goes on.
    void Activate();

    // Applies the stored values: address from the text or text from the address, link font,
    // fitted size, cursor, tooltip. Done at the first show; repeated calls are harmless.
    void Attach();
    void ResizeToFit();

  protected:
    void showEvent(QShowEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void Opened(int result);
    void SetOver(bool over);
    void ApplyColour();
    void ApplyFont();

    QString m_url;
    QColor m_hoverColour;
    bool m_over = false;
    bool m_visited = false;
    bool m_underline = true;
    bool m_adjustToFit = true;
    bool m_attached = false;
    AsyncOpener m_opener;
    core::Prompter* m_prompter = nullptr;
};

} // namespace ui
