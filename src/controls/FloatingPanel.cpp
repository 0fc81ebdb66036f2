#include "controls/FloatingPanel.h"

#include "controls/FloatWindow.h"
#include "controls/OutlineOverlay.h"

#include <QChildEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <cmath>

namespace {

// A rectangle as left, top, right, bottom with right and bottom outside, which is how the
// layout and painting rules are stated; QRect's inclusive right() would invite off-by-ones.
struct TEdges
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    static TEdges Of(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }
    QRect ToRect() const { return {Left, Top, Right - Left, Bottom - Top}; }
};

// Right and bottom edges count as inside, so a 5-pixel bar at x = 0 reacts on x = 0..5.
bool Inside(const QRect& rect, QPoint point)
{
    const TEdges e = TEdges::Of(rect);
    return e.Left <= point.x() && point.x() <= e.Right && e.Top <= point.y() && point.y() <= e.Bottom;
}

// Halves go to the even neighbour under the default rounding mode: 4.5 -> 4, 1.5 -> 2.
int Nearest(double value)
{
    return static_cast<int>(std::nearbyint(value));
}

// A one-pixel frame; the bottom and right lines own the two far corners.
void DrawEdge(QPainter& painter, const TEdges& e, const QColor& topLeft, const QColor& bottomRight)
{
    const int width = e.Right - e.Left;
    const int height = e.Bottom - e.Top;
    if (width <= 0 || height <= 0)
        return;
    painter.fillRect(QRect(e.Left, e.Top, width, 1), topLeft);
    painter.fillRect(QRect(e.Left, e.Top, 1, height), topLeft);
    painter.fillRect(QRect(e.Left, e.Bottom - 1, width, 1), bottomRight);
    painter.fillRect(QRect(e.Right - 1, e.Top, 1, height), bottomRight);
}

void DrawRaised(QPainter& painter, const TEdges& e, const QPalette& palette)
{
    DrawEdge(painter, e, palette.color(QPalette::Light), palette.color(QPalette::Dark));
}

void DrawSunken(QPainter& painter, const TEdges& e, const QPalette& palette)
{
    DrawEdge(painter, e, palette.color(QPalette::Dark), palette.color(QPalette::Light));
}

constexpr int kCloseBoxLength = 11;
constexpr int kCloseBoxSpan = 13; // the box plus its gap to the grip

} // namespace

TFloatingPanel::TFloatingPanel(QWidget* parent)
    : QWidget(parent)
    , FChildLayout(new TDockLayout(this))
{
    FChildLayout->setRectAdjuster([this](const QRect& available) { return LayoutPass(available).Child; });
    setMouseTracking(true);
    resize(185, 41);
}

TFloatingPanel::~TFloatingPanel()
{
    PopCursor();
    if (FFloatWindow) {
        // The panel is still the window's child here; deleting the window now would delete it twice.
        FFloatWindow->disconnect(this);
        FFloatWindow->hide();
        FFloatWindow->deleteLater();
    }
}

void TFloatingPanel::SetBarName(const QString& name)
{
    if (FBarName == name)
        return;
    FBarName = name;
    if (FFloatWindow)
        FFloatWindow->setWindowTitle(name);
}

void TFloatingPanel::SetHandleType(THandleType type)
{
    if (FHandleType == type)
        return;
    FHandleType = type;
    PropertyChanged();
}

void TFloatingPanel::SetHandleOrientation(THandleOrientation orientation)
{
    if (FHandleOrientation == orientation)
        return;
    FHandleOrientation = orientation;
    PropertyChanged();
}

void TFloatingPanel::SetCloseButton(bool on)
{
    if (FCloseButton == on)
        return;
    FCloseButton = on;
    FClosePressed = false;
    PropertyChanged();
}

void TFloatingPanel::SetResizeBar(bool on)
{
    if (FResizeBar == on)
        return;
    FResizeBar = on;
    PropertyChanged();
}

void TFloatingPanel::SetBarWidth(int width)
{
    if (FBarWidth == width)
        return;
    FBarWidth = width;
    PropertyChanged();
}

void TFloatingPanel::SetBevel(bool on)
{
    if (FBevel == on)
        return;
    FBevel = on;
    PropertyChanged();
}

void TFloatingPanel::SetAlign(TAlign align)
{
    if (FAlign == align)
        return;
    FAlign = align;
    if (TDockLayout* dock = ParentDock()) {
        dock->setAlign(this, align);
        dock->activate();
    }
    // The bar moves with the alignment, so the panel's own layout changes too.
    PropertyChanged();
}

QWidget* TFloatingPanel::FloatWindow() const
{
    return FFloatWindow;
}

void TFloatingPanel::ShowPanel()
{
    setVisible(true);
    RealignParent(parentWidget());
    emit OnShow(this);
}

void TFloatingPanel::HidePanel()
{
    if (FFloating)
        Defloat();
    setVisible(false);
    RealignParent(parentWidget());
    emit OnHide(this);
}

void TFloatingPanel::Float()
{
    if (FFloating)
        return;
    ShowPanel();
    FFloating = true;
    FSavedParent = parentWidget();
    if (!FSavedParent) {
        FFloating = false;
        return;
    }
    FSavedAlign = FAlign;
    FSavedLeft = x();
    FSavedTop = y();
    // Owned by the form the panel leaves, so a torn-off panel still dies with its form.
    auto* window = new TFloatWindow(FSavedParent);
    FFloatWindow = window;
    connect(window, &TFloatWindow::CloseRequested, this, [this] { emit OnHide(this); });
    connect(window, &TFloatWindow::Destroying, this, [this] { FFloatWindow = nullptr; });
    setParent(window);
    show(); // reparenting hides a widget; the panel itself stays visible
    RealignParent(FSavedParent);
    move(0, 0);
    window->resize(size());
    window->setWindowTitle(FBarName);
    SetAlign(alClient);
    Realign();
    update();
    emit OnFloat(this);
}

void TFloatingPanel::FloatAt(QPoint screenPoint)
{
    Float();
    if (!FFloating || !FFloatWindow)
        return;
    FFloatWindow->move(screenPoint);
    FFloatWindow->show();
    FFloatWindow->raise();
}

void TFloatingPanel::Defloat()
{
    if (!FFloating || !FSavedParent || !FFloatWindow)
        return;
    ShowPanel();
    SetAlign(alNone);
    TFloatWindow* window = FFloatWindow;
    setParent(FSavedParent);
    show();
    // The window's client area is what the panel filled, so a float and dock round trip
    // keeps the size whatever frame the window manager adds.
    resize(window->size());
    move(FSavedLeft, FSavedTop);
    window->disconnect(this);
    window->close();
    // Later: this may run inside the window's own close handler (an OnHide that docks).
    window->deleteLater();
    FSavedParent = nullptr;
    FFloatWindow = nullptr;
    FFloating = false;
    Realign();
    update();
    SetAlign(FSavedAlign);
    emit OnDefloat(this);
}

TFloatingPanel::TPanelRects TFloatingPanel::LayoutPass(const QRect& client) const
{
    const int W = width();
    const int H = height();
    const int k = FBarWidth;
    TEdges r = FBevel ? TEdges{1, 1, W - 1, H - 1} : TEdges::Of(client);
    TEdges bevel{0, 0, W, H};
    TEdges handle;
    TEdges bar;
    TEdges close;
    if (!FFloating) {
        const int s = HandleSize();
        switch (FHandleOrientation) {
        case hoTop:
            r.Top += s;
            handle = {2, 2, W - 2, s + 2};
            break;
        case hoBottom:
            r.Bottom -= s;
            handle = {2, H - s - 2, W - 2, H - 2};
            break;
        case hoLeft:
            r.Left += s;
            handle = {2, 2, s + 2, H - 2};
            break;
        case hoRight:
            r.Right -= s;
            handle = {W - s - 2, 2, W - 2, H - 2};
            break;
        }
        if (s == 0)
            handle = {};
        if (HasBar()) {
            const bool moveHandle = s != 0;
            switch (FAlign) {
            case alBottom:
                r.Top += k;
                bevel.Top += k;
                bar = {0, 0, W, k};
                if (moveHandle && !HorizontalHandle())
                    handle.Top += k;
                else if (moveHandle && FHandleOrientation == hoTop) {
                    handle.Top += k;
                    handle.Bottom += k;
                }
                break;
            case alTop:
                r.Bottom -= k;
                bevel.Bottom -= k;
                bar = {0, H - k, W, H};
                if (moveHandle && !HorizontalHandle())
                    handle.Bottom -= k;
                else if (moveHandle && FHandleOrientation == hoBottom) {
                    handle.Top -= k;
                    handle.Bottom -= k;
                }
                break;
            case alRight:
                r.Left += k;
                bevel.Left += k;
                bar = {0, 0, k, H};
                if (moveHandle && HorizontalHandle())
                    handle.Left += k;
                else if (moveHandle && FHandleOrientation == hoLeft) {
                    handle.Left += k;
                    handle.Right += k;
                }
                break;
            case alLeft:
                r.Right -= k;
                bevel.Right -= k;
                bar = {W - k, 0, W, H};
                if (moveHandle && HorizontalHandle())
                    handle.Right -= k;
                else if (moveHandle && FHandleOrientation == hoRight) {
                    handle.Left -= k;
                    handle.Right -= k;
                }
                break;
            case alNone:
            case alClient:
                break;
            }
        }
        // Where the close box is painted; computed here rather than remembered from the last
        // paint, so a press right after a change of size or property hits the box it sees.
        if (FCloseButton) {
            close = HorizontalHandle()
                        ? TEdges{handle.Right - kCloseBoxLength, handle.Top, handle.Right, handle.Bottom}
                        : TEdges{handle.Left, handle.Top, handle.Right, handle.Top + kCloseBoxLength};
        }
    }
    // The base panel's one-pixel inset around the children.
    const TEdges child{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    return {bevel.ToRect(), handle.ToRect(), bar.ToRect(), close.ToRect(), child.ToRect()};
}

int TFloatingPanel::HandleSize() const
{
    if (FCloseButton)
        return 12;
    switch (FHandleType) {
    case htNone:
        return 0;
    case htSingle:
        return 4;
    case htDouble:
        return 8;
    case htBig:
        return 5;
    case htDoubleBig:
        return 10;
    }
    return 0;
}

bool TFloatingPanel::HasBar() const
{
    return FResizeBar && (FAlign == alTop || FAlign == alBottom || FAlign == alLeft || FAlign == alRight);
}

TDockLayout* TFloatingPanel::ParentDock() const
{
    QWidget* parent = parentWidget();
    return parent ? qobject_cast<TDockLayout*>(parent->layout()) : nullptr;
}

// Qt would realign later from the event loop; the handlers of our events should already
// see the parent's new arrangement.
void TFloatingPanel::RealignParent(QWidget* parent)
{
    QLayout* layout = parent ? parent->layout() : nullptr;
    if (!layout)
        return;
    layout->invalidate();
    layout->activate();
}

void TFloatingPanel::Realign()
{
    FChildLayout->invalidate();
    FChildLayout->activate();
}

void TFloatingPanel::PropertyChanged()
{
    Realign();
    update();
}

void TFloatingPanel::paintEvent(QPaintEvent*)
{
    const TPanelRects rects = LayoutPass(rect());
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (!FFloating && HasBar())
        DrawRaised(painter, TEdges::Of(rects.Bar), palette());
    if (FBevel)
        DrawRaised(painter, TEdges::Of(rects.Bevel), palette());
    if (!FFloating)
        PaintHandleArea(painter, rects);
}

void TFloatingPanel::PaintHandleArea(QPainter& painter, const TPanelRects& rects) const
{
    if (!FCloseButton) {
        PaintGrip(painter, rects.Handle);
        return;
    }
    const TEdges a = TEdges::Of(rects.Handle);
    const TEdges grip = HorizontalHandle() ? TEdges{a.Left, a.Top, a.Right - kCloseBoxSpan, a.Bottom}
                                           : TEdges{a.Left, a.Top + kCloseBoxSpan, a.Right, a.Bottom};
    PaintGrip(painter, grip.ToRect());
    PaintCloseBox(painter, rects.Close);
}

void TFloatingPanel::PaintGrip(QPainter& painter, const QRect& area) const
{
    int thickness = 0;
    bool twoBars = false;
    switch (FHandleType) {
    case htNone:
        return;
    case htSingle:
        thickness = 3;
        break;
    case htBig:
        thickness = 4;
        break;
    case htDouble:
        thickness = 7;
        twoBars = true;
        break;
    case htDoubleBig:
        thickness = 9;
        twoBars = true;
        break;
    }
    const TEdges g = TEdges::Of(area);
    TEdges b;
    if (HorizontalHandle()) {
        const int d = Nearest((g.Bottom - g.Top - thickness) * 0.5);
        b = {g.Left, g.Top + d, g.Right, g.Top + d + thickness};
        if (twoBars) {
            const int h = Nearest((b.Bottom - b.Top - 1) * 0.5);
            DrawRaised(painter, {b.Left, b.Top, b.Right, b.Top + h}, palette());
            DrawRaised(painter, {b.Left, b.Top + h + 1, b.Right, b.Top + 2 * h + 1}, palette());
        }
    } else {
        const int d = Nearest((g.Right - g.Left - thickness) * 0.5);
        b = {g.Left + d, g.Top, g.Left + d + thickness, g.Bottom};
        if (twoBars) {
            const int h = Nearest((b.Right - b.Left - 1) * 0.5);
            DrawRaised(painter, {b.Left, b.Top, b.Left + h, b.Bottom}, palette());
            DrawRaised(painter, {b.Left + h + 1, b.Top, b.Left + 2 * h + 1, b.Bottom}, palette());
        }
    }
    DrawRaised(painter, b, palette());
}

void TFloatingPanel::PaintCloseBox(QPainter& painter, const QRect& box) const
{
    if (FClosePressed)
        DrawSunken(painter, TEdges::Of(box), palette());
    else
        DrawRaised(painter, TEdges::Of(box), palette());
    if (FCloseGlyph)
        style()->standardIcon(QStyle::SP_TitleBarCloseButton).paint(&painter, box.adjusted(1, 1, -1, -1));
}

void TFloatingPanel::mousePressEvent(QMouseEvent* event)
{
    // One gesture at a time: a second button pressed meanwhile must not restart it.
    if (FFloating || FResizing || FDragging || FClosePressed)
        return;
    const QPoint pos = event->position().toPoint();
    const TPanelRects rects = LayoutPass(rect());
    if (HasBar() && Inside(rects.Bar, pos)) {
        StartResize(pos);
    } else if (FCloseButton && Inside(rects.Close, pos)) {
        FClosePressed = true;
        repaint(rects.Close);
    } else if (HasHandle() && Inside(rects.Handle, pos)) {
        StartDrag(event->globalPosition().toPoint());
    }
}

void TFloatingPanel::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (FResizing) {
        MoveBar(pos);
        return;
    }
    if (!FFloating)
        UpdateCursor(pos);
    if (FDragging)
        MoveDrag(event->globalPosition().toPoint());
}

void TFloatingPanel::mouseReleaseEvent(QMouseEvent*)
{
    if (FResizing)
        FinishResize();
    else if (FClosePressed)
        FinishClose();
    else if (FDragging)
        FinishDrag();
}

void TFloatingPanel::enterEvent(QEnterEvent* event)
{
    if (!FResizing)
        UpdateCursor(event->position().toPoint());
    QWidget::enterEvent(event);
}

void TFloatingPanel::leaveEvent(QEvent* event)
{
    if (!FResizing)
        PopCursor();
    QWidget::leaveEvent(event);
}

void TFloatingPanel::hideEvent(QHideEvent* event)
{
    // A hidden panel gets no release: end whatever was under way and give the cursor back.
    CancelGestures();
    PopCursor();
    QWidget::hideEvent(event);
}

void TFloatingPanel::childEvent(QChildEvent* event)
{
    if ((event->added() || event->polished()) && event->child()->isWidgetType())
        event->child()->installEventFilter(this);
    QWidget::childEvent(event);
}

bool TFloatingPanel::eventFilter(QObject* watched, QEvent* event)
{
    // Moving from the bar straight onto a child is no leave for Qt, yet the pointer has
    // left the bar: without this the resize cursor would stay over the chat log.
    if (event->type() == QEvent::Enter && watched->parent() == this && !FResizing)
        PopCursor();
    return QWidget::eventFilter(watched, event);
}

void TFloatingPanel::UpdateCursor(QPoint clientPos)
{
    if (!FFloating && HasBar() && Inside(LayoutPass(rect()).Bar, clientPos))
        PushCursor(BarCursor());
    else
        PopCursor();
}

// The panel holds at most one entry on the override stack and changes it in place.
void TFloatingPanel::PushCursor(Qt::CursorShape shape)
{
    if (FCursorPushed) {
        QGuiApplication::changeOverrideCursor(shape);
        return;
    }
    QGuiApplication::setOverrideCursor(shape);
    FCursorPushed = true;
}

void TFloatingPanel::PopCursor()
{
    if (!FCursorPushed)
        return;
    QGuiApplication::restoreOverrideCursor();
    FCursorPushed = false;
}

Qt::CursorShape TFloatingPanel::BarCursor() const
{
    return HorizontalBar() ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}

void TFloatingPanel::ShowOutline(const QRect& screenRect, int rings)
{
    if (!FOutline)
        FOutline = std::make_unique<TOutlineOverlay>();
    FOutline->ShowOutline(screenRect, rings);
}

void TFloatingPanel::HideOutline()
{
    if (FOutline)
        FOutline->HideOutline();
}

void TFloatingPanel::StartResize(QPoint clientPos)
{
    // The limits come from the parent's client area; a parentless panel has nothing to share.
    QWidget* parent = parentWidget();
    if (!parent)
        return;
    const QRect bar = LayoutPass(rect()).Bar;
    FBarStart = QRect(mapToGlobal(bar.topLeft()), bar.size());
    FBarNow = FBarStart;
    PushCursor(BarCursor());
    ShowOutline(FBarNow, 1);
    FPressPoint = clientPos;
    FResizing = true;
    const QPoint origin = parent->mapToGlobal(QPoint(0, 0));
    FLimitLow = HorizontalBar() ? origin.x() : origin.y();
    FLimitHigh = FLimitLow + (HorizontalBar() ? parent->width() : parent->height());
}

void TFloatingPanel::MoveBar(QPoint clientPos)
{
    const int span = HorizontalBar() ? FBarStart.width() : FBarStart.height();
    int edge = HorizontalBar() ? clientPos.x() - FPressPoint.x() + FBarStart.x()
                               : clientPos.y() - FPressPoint.y() + FBarStart.y();
    if (edge < FLimitLow)
        edge = FLimitLow;
    if (edge + span > FLimitHigh)
        edge = FLimitHigh - span;
    if (HorizontalBar())
        FBarNow.moveLeft(edge);
    else
        FBarNow.moveTop(edge);
    ShowOutline(FBarNow, 1);
}

void TFloatingPanel::FinishResize()
{
    FResizing = false;
    HideOutline();
    const int dx = FBarNow.x() - FBarStart.x();
    const int dy = FBarNow.y() - FBarStart.y();
    // Next to another edge widget the bar can travel further than the panel is wide;
    // Qt stops a size below zero at zero.
    switch (FAlign) {
    case alLeft:
        resize(width() + dx, height());
        break;
    case alRight:
        resize(width() - dx, height());
        break;
    case alTop:
        resize(width(), height() + dy);
        break;
    case alBottom:
        resize(width(), height() - dy);
        break;
    case alNone:
    case alClient:
        break;
    }
    PopCursor();
    RealignParent(parentWidget());
    emit OnSplit(this);
}

void TFloatingPanel::StartDrag(QPoint screenPos)
{
    FDragging = true;
    FDragStart = screenPos;
    FDragRect = QRect(mapToGlobal(QPoint(0, 0)), size());
    FDragOrigin = FDragRect;
    ShowOutline(FDragRect, 3);
}

void TFloatingPanel::MoveDrag(QPoint screenPos)
{
    FDragRect = FDragOrigin.translated(screenPos - FDragStart);
    ShowOutline(FDragRect, 3);
}

void TFloatingPanel::FinishDrag()
{
    FDragging = false;
    HideOutline();
    FloatAt(FDragRect.topLeft());
}

void TFloatingPanel::FinishClose()
{
    FClosePressed = false;
    const QRect box = LayoutPass(rect()).Close;
    FCloseGlyph = true;
    repaint(box);
    FCloseGlyph = false;
    HidePanel();
}

void TFloatingPanel::CancelGestures()
{
    if (FResizing || FDragging)
        HideOutline();
    FResizing = false;
    FDragging = false;
    FClosePressed = false;
}
