#include "ui/desktop/Hyperlink.h"

#include "ui/desktop/OpenLink.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFocusRect>

namespace ui {

CHyperlink::CHyperlink(const QString& text, QWidget* parent)
    : QLabel(text, parent), m_hoverColour(QApplication::palette().color(QPalette::Highlight)),
      m_opener([this](const std::string& address, std::function<void(int)> result) {
          OpenLinkAsync(address, this, std::move(result));
      }) {
    setTextFormat(Qt::PlainText);
    // Like a plain static text: top-left, unless its owner aligns it otherwise.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setAutoFillBackground(false);
    ApplyColour();
}

void CHyperlink::SetUrl(const QString& url) {
    m_url = url;
    if (m_attached) {
        ResizeToFit();
        setToolTip(m_url);
        setAccessibleDescription(m_url);
    }
}

void CHyperlink::SetUnderline(bool underline) {
    m_underline = underline;
    if (m_attached)
        ApplyFont();
}

void CHyperlink::SetVisited(bool visited) {
    m_visited = visited;
    ApplyColour();
}

QColor CHyperlink::TextColour() const {
    if (m_over)
        return m_hoverColour;
    return m_visited ? kVisitedColour : kLinkColour;
}

void CHyperlink::Attach() {
    if (m_url.isEmpty())
        m_url = text();
    if (text().isEmpty())
        setText(m_url);
    m_attached = true;
    ApplyFont();
    setToolTip(m_url);
    if (accessibleName().isEmpty())
        setAccessibleName(text());
    setAccessibleDescription(m_url);
}

void CHyperlink::ApplyFont() {
    QFont linkFont = font();
    linkFont.setUnderline(m_underline);
    setFont(linkFont);
    ResizeToFit();
    update();
}

void CHyperlink::ResizeToFit() {
    if (!m_adjustToFit || !m_attached)
        return;
    const QFontMetrics metrics(font());
    const int w = metrics.horizontalAdvance(text()) + 2 * margin();
    const int h = metrics.height() + 2 * margin();
    QRect r = geometry();
    const Qt::Alignment a = alignment();
    if (a & Qt::AlignVCenter) {
        const int shrink = (r.height() - h) / 2;
        r.setTop(r.top() + shrink);
        r.setHeight(h);
    } else {
        r.setHeight(h);
    }
    if (a & Qt::AlignHCenter) {
        const int shrink = (r.width() - w) / 2;
        r.setLeft(r.left() + shrink);
        r.setWidth(w);
    } else if (a & Qt::AlignRight) {
        r.setLeft(r.right() + 1 - w);
    } else {
        r.setWidth(w);
    }
    setGeometry(r);
}

void CHyperlink::SetOpener(Opener opener) {
    m_opener = [opener = std::move(opener)](const std::string& address,
                                            std::function<void(int)> result) {
        result(opener(address));
    };
}

void CHyperlink::Activate() {
    if (!m_opener)
        return Opened(kLinkNoAssociation);
    QPointer<CHyperlink> self(this);
    m_opener(m_url.toStdString(), [self](int result) {
        if (self)
            self->Opened(result);
    });
}

void CHyperlink::Opened(int result) {
    m_visited = result > 32;
    if (m_visited) {
        SetVisited(true);
    } else {
        QApplication::beep();
        if (m_prompter)
            ReportLinkError(*m_prompter, result);
    }
}

void CHyperlink::showEvent(QShowEvent* event) {
    if (!m_attached)
        Attach();
    QLabel::showEvent(event);
}

void CHyperlink::enterEvent(QEnterEvent* event) {
    SetOver(true);
    QLabel::enterEvent(event);
}

void CHyperlink::leaveEvent(QEvent* event) {
    SetOver(false);
    QLabel::leaveEvent(event);
}

void CHyperlink::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Activate();
}

void CHyperlink::keyPressEvent(QKeyEvent* event) {
    // A link reached with Tab opens with Space or Enter, as a button would.
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        Activate();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CHyperlink::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    // A plain text shows no focus of its own: reached with Tab, the link was the one control
    // nobody could see had the keyboard. The style draws the frame a button would get.
    if (!hasFocus())
        return;
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(QPalette::Window);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

void CHyperlink::SetOver(bool over) {
    if (m_over == over)
        return;
    m_over = over;
    ApplyColour();
    repaint();
}

void CHyperlink::ApplyColour() {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, TextColour());
    p.setColor(QPalette::Text, TextColour());
    setPalette(p);
}

} // namespace ui
