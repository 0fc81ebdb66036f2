#include "app/BoardView.h"
#include "game/Board.h"

#include <QImage>
#include <QTest>

#include <cmath>
#include <tuple>

class TestBoardView : public QObject
{
    Q_OBJECT

private slots:
    // The board as shown, at any scale. Any button plays, and the cells reach the view's edges.
    // The hole (1,6) and the piece (1,2) keep in device pixels to the ellipse inscribed in their
    // cells: their colour inside, the background outside, the outline between, aliased at one
    // device pixel per pixel as it always was and smooth on a denser screen. With 1 holding (1,1)
    // to (5,1), both fours are drawn over the pieces, from the first piece's centre (33,324)
    // through the fifth's (250,324), until the next repaint.
    void asShown()
    {
        TBoard board = TBoard::FromMoves("112233445");
        TBoardView view;
        view.SetBoard(&board);
        view.resize(398, 353);
        QPoint pressed;
        view.OnCellPressed = [&pressed](int column, int row) { pressed = QPoint(column, row); };
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(pressed, QPoint(1, 6));
        QTest::mousePress(&view, Qt::RightButton, {}, QPoint(391, 347));
        QCOMPARE(pressed, QPoint(7, 1));
        const QImage shot = view.grab().toImage();
        const double ratio = shot.devicePixelRatio();
        for (const auto& [col, row, fill] : {std::tuple(1, 6, QColor(Qt::white)), std::tuple(1, 2, QColor(Qt::red))}) {
            const QRectF r = TBoardView::CellRect(col, row, 398, 353);
            const QRectF slot(r.topLeft() * ratio, r.size() * ratio);
            int misplaced = 0, blends = 0;
            for (int y = int(slot.top()) - 2; y < slot.bottom() + 2; ++y) {
                for (int x = int(slot.left()) - 2; x < slot.right() + 2; ++x) {
                    const QPointF d = QPointF(x + 0.5, y + 0.5) - slot.center();
                    const double beyond = (std::hypot(d.x() / slot.width(), d.y() / slot.height()) * 2 - 1) * slot.width() / 2;
                    const QColor seen = shot.pixelColor(x, y);
                    if (beyond < -1 - ratio || beyond > 1)
                        misplaced += seen != (beyond > 1 ? QColor(Qt::blue) : fill);
                    else
                        blends += seen != fill && seen != Qt::blue && seen != Qt::black;
                }
            }
            QCOMPARE(misplaced, 0);
            QCOMPARE(blends > 0, ratio > 1);
        }
        board.HasFourInRow(cvLocal, [&](int c1, int r1, int c2, int r2) { view.DrawWinLine(c1, r1, c2, r2); });
        const auto at = [ratio](int x, int y) { return (QPointF(x, y) * ratio).toPoint(); };
        const QImage drawn = view.grab().toImage();
        QCOMPARE(drawn.pixelColor(at(33, 324)), QColor(Qt::black));
        QCOMPARE(drawn.pixelColor(at(250, 324)), QColor(Qt::black));
        view.RepaintNow();
        QCOMPARE(view.grab().toImage().pixelColor(at(86, 324)), QColor(Qt::yellow));
    }
};

QTEST_MAIN(TestBoardView)
#include "test_boardview.moc"
