#pragma once

#include "controls/DockLayout.h"

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>

class TFloatWindow;
class TOutlineOverlay;

enum THandleType : std::uint8_t { htNone = 0, htSingle, htDouble, htBig, htDoubleBig };
// The side of the panel along which the grab handle runs.
enum THandleOrientation : std::uint8_t { hoTop = 0, hoLeft, hoBottom, hoRight };

// A panel that docks against an edge of its parent (through the parent's TDockLayout) and
// holds other widgets. It can carry a resize bar on the edge facing the rest of the parent,
// a grab handle that tears it off into a tool window of its own, a close box and a bevel.
class TFloatingPanel : public QWidget
{
    Q_OBJECT

public:
    explicit TFloatingPanel(QWidget* parent = nullptr);
    ~TFloatingPanel() override;

    // Setters do nothing when handed the current value.
    QString BarName() const { return FBarName; }
    void SetBarName(const QString& name);
    THandleType HandleType() const { return FHandleType; }
    void SetHandleType(THandleType type);
    THandleOrientation HandleOrientation() const { return FHandleOrientation; }
    void SetHandleOrientation(THandleOrientation orientation);
    bool CloseButton() const { return FCloseButton; }
    void SetCloseButton(bool on);
    bool ResizeBar() const { return FResizeBar; }
    void SetResizeBar(bool on);
    int BarWidth() const { return FBarWidth; }
    void SetBarWidth(int width);
    bool Bevel() const { return FBevel; }
    void SetBevel(bool on);
    bool Floating() const { return FFloating; }
    // Also tells the parent's TDockLayout, which then places the panel accordingly.
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign align);

    // Children go here; they are aligned inside ChildRect().
    TDockLayout* ChildLayout() const { return FChildLayout; }
    // The tool window holding the panel; nullptr while docked.
    QWidget* FloatWindow() const;

    void ShowPanel();
    void HidePanel();
    // Tears the panel off into a new tool window, left hidden.
    void Float();
    // Floats if needed, then moves the tool window's top-left corner to screenPoint and shows it.
    void FloatAt(QPoint screenPoint);
    void Defloat();

    // The rectangles of the layout pass for the current size and properties, in client
    // coordinates. The hit test counts their right and bottom edges as inside.
    QRect BevelRect() const { return LayoutPass(rect()).Bevel; }
    QRect HandleRect() const { return LayoutPass(rect()).Handle; }
    QRect BarRect() const { return LayoutPass(rect()).Bar; }
    QRect CloseRect() const { return LayoutPass(rect()).Close; }
    QRect ChildRect() const { return LayoutPass(rect()).Child; }

signals:
    void OnFloat(TFloatingPanel* Sender);
    void OnDefloat(TFloatingPanel* Sender);
    void OnShow(TFloatingPanel* Sender);
    void OnHide(TFloatingPanel* Sender);
    // After every completed resize gesture, whether or not the size changed.
    void OnSplit(TFloatingPanel* Sender);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void childEvent(QChildEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct TPanelRects
    {
        QRect Bevel;
        QRect Handle;
        QRect Bar;
        QRect Close;
        QRect Child;
    };

    TPanelRects LayoutPass(const QRect& client) const;
    int HandleSize() const;
    bool HasHandle() const { return HandleSize() != 0; }
    bool HasBar() const;
    bool HorizontalBar() const { return FAlign == alLeft || FAlign == alRight; }
    bool HorizontalHandle() const { return FHandleOrientation == hoTop || FHandleOrientation == hoBottom; }
    TDockLayout* ParentDock() const;
    static void RealignParent(QWidget* parent);
    void Realign();
    void PropertyChanged();

    void PaintHandleArea(QPainter& painter, const TPanelRects& rects) const;
    void PaintGrip(QPainter& painter, const QRect& area) const;
    void PaintCloseBox(QPainter& painter, const QRect& box) const;

    void UpdateCursor(QPoint clientPos);
    void PushCursor(Qt::CursorShape shape);
    void PopCursor();
    Qt::CursorShape BarCursor() const;

    void ShowOutline(const QRect& screenRect, int rings);
    void HideOutline();

    void StartResize(QPoint clientPos);
    void MoveBar(QPoint clientPos);
    void FinishResize();
    void StartDrag(QPoint screenPos);
    void MoveDrag(QPoint screenPos);
    void FinishDrag();
    void FinishClose();
    void CancelGestures();

    bool FFloating = false;
    QPointer<QWidget> FSavedParent;
    TFloatWindow* FFloatWindow = nullptr;
    int FSavedLeft = 0;
    int FSavedTop = 0;
    QString FBarName;
    THandleType FHandleType = htNone;
    THandleOrientation FHandleOrientation = hoTop;
    TAlign FSavedAlign = alNone;
    bool FCloseButton = false;
    bool FClosePressed = false;
    bool FDragging = false;
    QPoint FDragStart;
    QRect FDragRect;
    QRect FDragOrigin;
    bool FResizeBar = false;
    int FBarWidth = 5;
    int FLimitLow = 0;
    int FLimitHigh = 0;
    QPoint FPressPoint;
    QRect FBarStart;
    QRect FBarNow;
    bool FResizing = false;
    bool FBevel = true;

    TAlign FAlign = alNone;
    TDockLayout* FChildLayout;
    std::unique_ptr<TOutlineOverlay> FOutline;
    bool FCursorPushed = false;
    // Set only for the one repaint that shows the released close glyph before hiding.
    bool FCloseGlyph = false;
};
