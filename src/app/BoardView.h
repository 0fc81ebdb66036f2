#pragma once

#include "game/Board.h"

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QPainter;

// A piece that came onto the board: its column and its cell value (ours or the opponent's).
struct TBoardMove
{
    int Column;
    std::int32_t Value;
};

// The main window's PaintBox1: draws the board, turns presses into cells and
// shows the lines over a four in a row. All geometry is computed afresh from the
// current size, so the board stretches with the window. It also plays from the keyboard:
// Left and Right move a column marker, Enter or Space plays there, 1 to 7 play at once.
class TBoardView : public QWidget
{
    Q_OBJECT

public:
    explicit TBoardView(QWidget* parent = nullptr);

    // Not owned; read at every paint. Without a board every hole is empty.
    void SetBoard(const TBoard* board);

    QColor LocalColor{255, 255, 0};
    QColor RemoteColor{255, 0, 0};
    QColor BackgroundColor{0, 0, 255};
    QColor HoleColor{255, 255, 255};

    // Shows a changed board before returning, so a line drawn next lands on it.
    void RepaintNow();
    // The piece that the last repaint found new; none on an empty board.
    std::optional<TBoardMove> LastMove() const { return FLastMove; }
    void DrawWinLine(int col1, int row1, int col2, int row2);

    std::function<void(int column, int row)> OnCellPressed;

    static int CellWidth(int w);
    static int CellHeight(int h);
    // Left and top belong to the cell, right and bottom do not; the rectangle is
    // empty when the surface is too small for a hole.
    static QRect CellRect(int col, int row, int w, int h);
    static QPoint AnchorPoint(int col, int row, int w, int h);
    static std::optional<QPoint> HitTest(int x, int y, int w, int h);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

    void PaintBox1Paint(QPainter& painter);
    void PaintBox1MouseDown(Qt::MouseButton button, int x, int y);

private:
    struct TWinLine
    {
        int Col1, Row1, Col2, Row2;
    };

    bool Smooth() const;
    QRectF OutlineRect(const QRect& r) const;
    QColor CellColor(int col, int row) const;
    void PaintWinLines(QPainter& painter) const;
    void PaintMarker(QPainter& painter) const;
    void MoveMarker(int column);
    void PlayColumn(int column);
    void NoteLastMove();

    const TBoard* Board = nullptr;
    // Lines are transient: they stay on screen until the next board change or
    // resize, which clears them, as a line drawn straight onto the surface would.
    std::vector<TWinLine> WinLines;

    int MarkerColumn = 4;
    // The marker shows once the keyboard is used, so a player who clicks sees the board as ever.
    bool MarkerShown = false;
    TBoard ShownBoard;  // as the last repaint found it
    std::optional<TBoardMove> FLastMove;
};
