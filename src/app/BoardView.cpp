#include "app/BoardView.h"

#include "game/Board.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kStrip = 5;  // blue strip left of and above every hole
// Green reads on the blue strip, its black edge against the white holes below it.
const QColor kMarkerFill(0, 255, 0);
const QColor kMarkerEdge(0, 0, 0);
constexpr QSize kLayoutSize{398, 353};

// num / den rounded to the nearest integer, ties to even, in exact integer arithmetic.
int RoundHalfEven(long long num, long long den)
{
    long long q = num / den;
    long long r = num % den;
    if (r < 0) {
        --q;
        r += den;
    }
    if (2 * r > den || (2 * r == den && q % 2 != 0))
        ++q;
    return static_cast<int>(q);
}

// Slot origin + half a slot, as the line's end points are defined.
int Anchor(long long slotOrigin, long long slotSize)
{
    return RoundHalfEven(2 * slotOrigin + slotSize, 2);
}

}  // namespace

TBoardView::TBoardView(QWidget* parent) : QWidget(parent)
{
    // Every paint covers the whole surface with the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
}

void TBoardView::SetBoard(const TBoard* board)
{
    Board = board;
    update();
}

void TBoardView::RepaintNow()
{
    WinLines.clear();
    NoteLastMove();
    repaint();
}

void TBoardView::NoteLastMove()
{
    const TBoard now = Board ? *Board : TBoard();
    if (now == TBoard())
        FLastMove.reset();
    for (int col = 1; col <= kColumns; ++col) {
        for (int row = 1; row <= kRows; ++row) {
            if (ShownBoard.Cell(col, row) == cvEmpty && now.Cell(col, row) != cvEmpty)
                FLastMove = TBoardMove{col, now.Cell(col, row)};
        }
    }
    ShownBoard = now;
}

void TBoardView::DrawWinLine(int col1, int row1, int col2, int row2)
{
    WinLines.push_back({col1, row1, col2, row2});
    repaint();
}

int TBoardView::CellWidth(int w)
{
    return RoundHalfEven(static_cast<long long>(w) - kStrip, kColumns);
}

int TBoardView::CellHeight(int h)
{
    return RoundHalfEven(static_cast<long long>(h) - kStrip, kRows);
}

QRect TBoardView::CellRect(int col, int row, int w, int h)
{
    const int cw = CellWidth(w);
    const int ch = CellHeight(h);
    const int left = (col - 1) * cw + kStrip;
    const int right = col * cw;
    const int top = (kRows - row) * ch + kStrip;
    const int bottom = (kRows + 1 - row) * ch;
    return QRect(left, top, right - left, bottom - top);
}

QPoint TBoardView::AnchorPoint(int col, int row, int w, int h)
{
    const long long cw = CellWidth(w);
    const long long ch = CellHeight(h);
    return QPoint(Anchor((col - 1) * cw + kStrip, cw), Anchor((kRows - row) * ch + kStrip, ch));
}

std::optional<QPoint> TBoardView::HitTest(int x, int y, int w, int h)
{
    for (int col = 1; col <= kColumns; ++col) {
        for (int row = 1; row <= kRows; ++row) {
            const QRect r = CellRect(col, row, w, h);
            // Explicit bounds: QRect::contains would normalise an inverted rectangle.
            if (r.left() <= x && x < r.left() + r.width() && r.top() <= y && y < r.top() + r.height())
                return QPoint(col, row);
        }
    }
    return std::nullopt;
}

QSize TBoardView::sizeHint() const
{
    return kLayoutSize;
}

void TBoardView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBox1Paint(painter);
    PaintWinLines(painter);
    if (MarkerShown && hasFocus())
        PaintMarker(painter);
}

void TBoardView::mousePressEvent(QMouseEvent* event)
{
    const QPointF pos = event->position();
    PaintBox1MouseDown(event->button(), static_cast<int>(std::floor(pos.x())),
                       static_cast<int>(std::floor(pos.y())));
}

void TBoardView::resizeEvent(QResizeEvent* event)
{
    WinLines.clear();
    QWidget::resizeEvent(event);
}

// At one device pixel per pixel, drawing is aliased so every pixel follows the integer geometry;
// a denser screen gets smooth curves at its own resolution, in the same proportions.
bool TBoardView::Smooth() const
{
    return devicePixelRatioF() != 1;
}

// The rectangle whose outline of one pixel lies on the edge pixels of `r`.
QRectF TBoardView::OutlineRect(const QRect& r) const
{
    if (Smooth())
        return QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5);
    // An outlined QRect covers one pixel more than its size.
    return QRectF(r.adjusted(0, 0, -1, -1));
}

void TBoardView::PaintBox1Paint(QPainter& painter)
{
    painter.setRenderHint(QPainter::Antialiasing, Smooth());
    painter.fillRect(rect(), BackgroundColor);
    painter.setPen(QPen(Qt::black, 1));
    for (int col = 1; col <= kColumns; ++col) {
        for (int row = 1; row <= kRows; ++row) {
            const QRect r = CellRect(col, row, width(), height());
            if (r.isEmpty())
                continue;
            painter.setBrush(CellColor(col, row));
            painter.drawEllipse(OutlineRect(r));
        }
    }
}

void TBoardView::PaintBox1MouseDown(Qt::MouseButton, int x, int y)
{
    // Any button plays.
    const std::optional<QPoint> cell = HitTest(x, y, width(), height());
    MarkerShown = false;  // back to the mouse: the board looks as it always did
    if (cell)
        MoveMarker(cell->x());
    if (cell && OnCellPressed)
        OnCellPressed(cell->x(), cell->y());
}

QColor TBoardView::CellColor(int col, int row) const
{
    const std::int32_t value = Board ? Board->Cell(col, row) : cvEmpty;
    if (value == cvLocal)
        return LocalColor;
    if (value == cvRemote)
        return RemoteColor;
    return HoleColor;
}

void TBoardView::PaintWinLines(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing, Smooth());
    painter.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (const TWinLine& line : WinLines) {
        painter.drawLine(AnchorPoint(line.Col1, line.Row1, width(), height()),
                         AnchorPoint(line.Col2, line.Row2, width(), height()));
    }
}

// The strip above the top hole of the marked column: blue in every layout, never a hole.
void TBoardView::PaintMarker(QPainter& painter) const
{
    const QRect top = CellRect(MarkerColumn, kRows, width(), height());
    if (top.isEmpty())
        return;
    painter.setRenderHint(QPainter::Antialiasing, Smooth());
    painter.setPen(QPen(kMarkerEdge, 1));
    painter.setBrush(kMarkerFill);
    painter.drawRect(OutlineRect(QRect(top.left(), 0, top.width(), kStrip)));
}

void TBoardView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
        MoveMarker(std::clamp(MarkerColumn + (key == Qt::Key_Left ? -1 : 1), 1, kColumns));
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
        PlayColumn(MarkerColumn);
    } else if (key >= Qt::Key_1 && key < Qt::Key_1 + kColumns) {
        MoveMarker(key - Qt::Key_0);
        PlayColumn(MarkerColumn);
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    MarkerShown = true;
    update();
}

void TBoardView::focusInEvent(QFocusEvent* event)
{
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        MarkerShown = true;
    update();
    QWidget::focusInEvent(event);
}

void TBoardView::focusOutEvent(QFocusEvent* event)
{
    update();
    QWidget::focusOutEvent(event);
}

void TBoardView::MoveMarker(int column)
{
    MarkerColumn = column;
    update();
}

// A key plays as a press on the cell the placement rule asks for in that column would;
// a full column offers no such cell, and a press on its top piece does nothing either.
void TBoardView::PlayColumn(int column)
{
    const int free = Board ? Board->FreeRow(column) : 1;
    if (OnCellPressed)
        OnCellPressed(column, free != 0 ? free : kRows);
}
