#include "app/Resources.h"

#include <QBitmap>
#include <QImage>
#include <QTest>

#include <vector>

namespace {

constexpr int kCursor = 32;

// The cursor's bits as a grid: true where the bitmap's bit is set.
std::vector<std::vector<bool>> Bits(const QBitmap& bitmap)
{
    const QImage image = bitmap.toImage().convertToFormat(QImage::Format_RGB32);
    std::vector<std::vector<bool>> bits(kCursor, std::vector<bool>(kCursor, false));
    for (int y = 0; y < kCursor; ++y) {
        for (int x = 0; x < kCursor; ++x)
            bits[y][x] = qGray(image.pixel(x, y)) < 128;  // color1 reads as black
    }
    return bits;
}

bool ShownAt(const std::vector<std::vector<bool>>& mask, int x, int y)
{
    return x >= 0 && y >= 0 && x < kCursor && y < kCursor && mask[y][x];
}

int CountShownConnectedTo(const std::vector<std::vector<bool>>& mask, int x0, int y0)
{
    std::vector<std::vector<bool>> seen(kCursor, std::vector<bool>(kCursor, false));
    std::vector<QPoint> todo{{x0, y0}};
    int count = 0;
    while (!todo.empty()) {
        const QPoint p = todo.back();
        todo.pop_back();
        if (!ShownAt(mask, p.x(), p.y()) || seen[p.y()][p.x()])
            continue;
        seen[p.y()][p.x()] = true;
        ++count;
        todo.insert(todo.end(), {{p.x() + 1, p.y()}, {p.x() - 1, p.y()}, {p.x(), p.y() + 1}, {p.x(), p.y() - 1}});
    }
    return count;
}

enum TTone { toWhite, toYellow, toRed, toBoardBlue };

bool HasTone(QColor c, TTone tone)
{
    switch (tone) {
    case toWhite:
        return c.red() > 200 && c.green() > 200 && c.blue() > 200;
    case toYellow:
        return c.red() > 200 && c.green() > 150 && c.blue() < 120;
    case toRed:
        return c.red() > 170 && c.green() < 110 && c.blue() < 110;
    case toBoardBlue:
        return c.blue() > 150 && c.red() < 100 && c.green() < 150;
    }
    return false;
}

}  // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void iconPicture_data();
    void iconPicture();
    void handCursorPicture();
};

void TestResources::iconPicture_data()
{
    QTest::addColumn<int>("size");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        QTest::addRow("%d px", size) << size;
}

// Every size shows the same corner of a board: a rising yellow diagonal over red
// pieces, empty holes top left. Points are in the picture's 48-unit grid.
void TestResources::iconPicture()
{
    QFETCH(int, size);
    QVERIFY(AppIcon().availableSizes().contains(QSize(size, size)));
    const QImage image = AppIconPixmap(size).toImage();
    QCOMPARE(image.size(), QSize(size, size));
    const auto at = [&](double ux, double uy) {
        return image.pixelColor(int(ux * size / 48.0), int(uy * size / 48.0)).toRgb();
    };
    QVERIFY(HasTone(at(9, 9), toWhite));
    QVERIFY(HasTone(at(24, 9), toWhite));
    QVERIFY(HasTone(at(9, 24), toWhite));
    QVERIFY(HasTone(at(39, 9), toYellow));
    QVERIFY(HasTone(at(24, 24), toYellow));
    QVERIFY(HasTone(at(9, 39), toYellow));
    QVERIFY(HasTone(at(39, 24), toRed));
    QVERIFY(HasTone(at(24, 39), toRed));
    QVERIFY(HasTone(at(39, 39), toRed));
    QVERIFY(HasTone(at(16.5, 16.5), toBoardBlue));
    QVERIFY(HasTone(at(31.5, 31.5), toBoardBlue));
}

void TestResources::handCursorPicture()
{
    const QCursor cursor = HandCursor();
    QCOMPARE(cursor.shape(), Qt::BitmapCursor);
    QCOMPARE(cursor.hotSpot(), QPoint(0, 0));
    QCOMPARE(cursor.bitmap().size(), QSize(kCursor, kCursor));
    QCOMPARE(cursor.mask().size(), QSize(kCursor, kCursor));
    const auto black = Bits(cursor.bitmap());
    const auto shown = Bits(cursor.mask());

    // The fingertip is the hot spot, drawn in black.
    QVERIFY(black[0][0]);
    QVERIFY(shown[0][0]);

    int blackCount = 0;
    int whiteCount = 0;
    for (int y = 0; y < kCursor; ++y) {
        for (int x = 0; x < kCursor; ++x) {
            // A set bit outside the mask would invert the screen on some systems.
            QVERIFY2(!black[y][x] || shown[y][x], qPrintable(QStringLiteral("(%1,%2)").arg(x).arg(y)));
            if (!shown[y][x])
                continue;
            black[y][x] ? ++blackCount : ++whiteCount;
            // Closed black outline, so the hand shows on light and dark backgrounds alike.
            const bool onEdge = !ShownAt(shown, x + 1, y) || !ShownAt(shown, x - 1, y) ||
                                !ShownAt(shown, x, y + 1) || !ShownAt(shown, x, y - 1);
            QVERIFY2(!onEdge || black[y][x], qPrintable(QStringLiteral("(%1,%2)").arg(x).arg(y)));
        }
    }
    // One solid piece: a white hand, not a few strokes.
    QCOMPARE(CountShownConnectedTo(shown, 0, 0), blackCount + whiteCount);
    QVERIFY(whiteCount > 2 * blackCount / 3);
    QVERIFY(blackCount + whiteCount > 250);
}

QTEST_MAIN(TestResources)
#include "test_resources.moc"
