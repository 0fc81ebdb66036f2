#include "app/StatusBar.h"

#include <QPainter>

#include <algorithm>

namespace {

constexpr int kLayoutHeight = 19;
constexpr int kTextIndent = 2;  // between the frame and the text, on both sides

}  // namespace

TStatusPanel::TStatusPanel(const QString& text, QWidget* parent)
    : QLabel(text, parent)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setTextFormat(Qt::PlainText);
}

// The bar decides the width; the text never asks for more.
QSize TStatusPanel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

QSize TStatusPanel::sizeHint() const
{
    return minimumSizeHint();
}

void TStatusPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect room = contentsRect().adjusted(kTextIndent, 0, -kTextIndent, 0);
    if (room.width() <= 0)
        return;
    painter.setClipRect(room);
    painter.setPen(palette().color(QPalette::WindowText));
    // Hardly a glyph is narrower than a pixel, so this head holds all that can show; laying
    // out a name as long as the wire allows at every paint is avoided.
    const QString head = text().left(std::max(room.width(), 64));
    const QString shown = fontMetrics().elidedText(head, Qt::ElideRight, room.width());
    painter.drawText(room, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
}

TStatusBar::TStatusBar(QWidget* parent)
    : QStatusBar(parent)
    , Panel0(new TStatusPanel(QStringLiteral("STATUS"), this))
    , Panel1(new TStatusPanel(QStringLiteral("Score"), this))
{
    // The panels are placed by hand: the bar's own layout would add margins, spacing and a
    // size grip between them and the edges.
    setSizeGripEnabled(false);
    setFixedHeight(std::max(kLayoutHeight, fontMetrics().height() + 6));
}

void TStatusBar::SetPanel0Width(int width)
{
    if (width == FPanel0Width)
        return;
    FPanel0Width = width;
    PlacePanels();
}

QSize TStatusBar::sizeHint() const
{
    return QSize(QStatusBar::sizeHint().width(), height());
}

void TStatusBar::resizeEvent(QResizeEvent* event)
{
    QStatusBar::resizeEvent(event);
    PlacePanels();
}

void TStatusBar::PlacePanels()
{
    const int left = std::clamp(FPanel0Width, 0, width());
    Panel0->setGeometry(0, 0, left, height());
    Panel1->setGeometry(left, 0, width() - left, height());
}
