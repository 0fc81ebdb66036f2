#pragma once

#include <QRect>
#include <QWidget>

// A dotted outline shown on top of everything in screen coordinates, standing in for the
// XOR focus rectangles drawn straight on the screen: it is its own window, so hiding it
// leaves nothing behind. Shaped to its frame, the inside stays see-through.
class TOutlineOverlay : public QWidget
{
    Q_OBJECT

public:
    TOutlineOverlay();

    // rings nested one-pixel outlines, the outermost on screenRect's edge.
    void ShowOutline(const QRect& screenRect, int rings);
    void HideOutline();

    QRect Outline() const { return FOutline; }
    int Rings() const { return FRings; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect FOutline;
    int FRings = 1;
    QSize FMaskSize;
    int FMaskRings = 0;
};
