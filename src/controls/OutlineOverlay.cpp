#include "controls/OutlineOverlay.h"

#include <QPainter>
#include <QRegion>

#include <algorithm>

TOutlineOverlay::TOutlineOverlay()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                           | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
}

void TOutlineOverlay::ShowOutline(const QRect& screenRect, int rings)
{
    FOutline = screenRect;
    FRings = std::max(1, rings);
    const QRect area = screenRect.normalized();
    if (area.isEmpty()) {
        hide();
        return;
    }
    // Reshaped only when needed: moving an outline of the same size keeps its shape.
    if (area.size() != FMaskSize || FRings != FMaskRings) {
        const QRect local(QPoint(0, 0), area.size());
        const QRect inside = local.adjusted(FRings, FRings, -FRings, -FRings);
        setMask(inside.isValid() ? QRegion(local).subtracted(QRegion(inside)) : QRegion(local));
        FMaskSize = area.size();
        FMaskRings = FRings;
    }
    setGeometry(area);
    show();
}

void TOutlineOverlay::HideOutline()
{
    hide();
    FOutline = QRect();
}

void TOutlineOverlay::paintEvent(QPaintEvent*)
{
    // A 50 % checker in black and white reads like a focus rectangle on any background.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.fillRect(rect(), QBrush(Qt::black, Qt::Dense4Pattern));
}
