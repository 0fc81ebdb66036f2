#include "app/Resources.h"

#include <QBitmap>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QPainter>
#include <QPolygonF>
#include <QString>
#include <QTranslator>

#include <array>
#include <cmath>
#include <cstring>

// The resources live in a static library, so nothing would pull them into the
// program unless they are registered by name; this must sit outside any namespace.
static void RegisterTessaroResources()
{
    Q_INIT_RESOURCE(tessaro);
}

namespace {

// Windows only need small pictures; the desktop takes larger ones from the installed theme,
// and every size here is decoded at start and sent to the display with every window. A screen
// of more than one device pixel per pixel also gets the pictures its pixels need.
constexpr std::array<int, 5> kIconSizes{16, 22, 24, 32, 48};
constexpr std::array<int, 2> kDenseIconSizes{64, 128};

constexpr int kCursorSize = 32;

// '#' black, '.' white, ' ' transparent; rows below the table are transparent.
constexpr std::array<const char*, 26> kHandRows{
    "####                            ",
    "#...##                          ",
    " #....#                         ",
    "  #....#        ## ###          ",
    "  #.....#   ## #..#...#         ",
    "   #.....# #..#....#...#        ",
    "    #.....#....#....#...#       ",
    "     #.....#....#....#...#      ",
    "      #.....#....#....#...#     ",
    "       #.....#....#........#    ",
    "        #.....#....#........#   ",
    "         #.....#............#   ",
    "         ##.....#...........#   ",
    "        #..#...............#.#  ",
    "        #...#.............#...# ",
    "        #....#...........#.....#",
    "         #....#.........#.....# ",
    "          #............#.....#  ",
    "           #..........#.....#   ",
    "            #........#.....#    ",
    "             #......#.....#     ",
    "              #....#.....#      ",
    "               #..#.....#       ",
    "                ## #...#        ",
    "                    #.#         ",
    "                     #          ",
};

void EnsureResources()
{
    static const bool registered = (RegisterTessaroResources(), true);
    Q_UNUSED(registered);
}

// The same hand as the table, as lines through the centres of its black pixels, so that it can be
// drawn smooth at any size: the outline, then the lines between the fingers, of the thumb and the cuff.
void DrawHandPath(QPainter& painter)
{
    const QPolygonF outline{{0, 0},   {3, 0},   {5, 1},   {10, 6},  {12, 4},  {13, 4},  {14, 5},  {16, 3},
                            {17, 3},  {18, 4},  {19, 3},  {21, 3},  {28, 10}, {28, 12}, {31, 15}, {21, 25},
                            {19, 23}, {16, 23}, {8, 15},  {8, 13},  {9, 12},  {9, 11},  {2, 4},   {2, 3},  {0, 1}};
    const std::array<QLineF, 5> lines{QLineF(10, 6, 16, 12), QLineF(14, 5, 19, 10), QLineF(18, 4, 22, 8),
                                      QLineF(10, 12, 14, 16), QLineF(28, 12, 17, 23)};
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(0.5, 0.5);
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::white);
    painter.drawPolygon(outline);
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
}

// One bit per pixel of the cursor: set where `in(c)` holds for the table's character.
template <typename Predicate>
QBitmap HandBits(Predicate in)
{
    QBitmap bits(kCursorSize, kCursorSize);
    bits.fill(Qt::color0);
    QPainter painter(&bits);
    painter.setPen(Qt::color1);
    for (int y = 0; y < static_cast<int>(kHandRows.size()); ++y) {
        const char* row = kHandRows[static_cast<std::size_t>(y)];
        const int length = static_cast<int>(std::strlen(row));
        for (int x = 0; x < length && x < kCursorSize; ++x) {
            if (in(row[x]))
                painter.drawPoint(x, y);
        }
    }
    return bits;
}

}  // namespace

QIcon AppIcon()
{
    // main() makes it the application's icon first; the windows then share that one.
    if (!QGuiApplication::windowIcon().isNull())
        return QGuiApplication::windowIcon();
    EnsureResources();
    QIcon icon;
    const auto add = [&icon](int size) {
        icon.addFile(QStringLiteral(":/tessaro-%1.png").arg(size), QSize(size, size));
    };
    for (int size : kIconSizes)
        add(size);
    if (qApp->devicePixelRatio() > 1) {
        for (int size : kDenseIconSizes)
            add(size);
    }
    return icon;
}

QPixmap AppIconPixmap(int size)
{
    return AppIcon().pixmap(size);
}

QCursor HandCursor()
{
    if (const qreal ratio = qApp->devicePixelRatio(); ratio > 1) {
        // The display takes a cursor in its own pixels: draw the hand at their size.
        const int size = static_cast<int>(std::ceil(kCursorSize * ratio));
        QPixmap hand(size, size);
        hand.fill(Qt::transparent);
        QPainter painter(&hand);
        painter.scale(ratio, ratio);
        DrawHandPath(painter);
        painter.end();
        return QCursor(hand, 0, 0);
    }
    const QBitmap black = HandBits([](char c) { return c == '#'; });
    const QBitmap shown = HandBits([](char c) { return c == '#' || c == '.'; });
    return QCursor(black, shown, 0, 0);
}

bool InstallToolkitTranslation()
{
    // The interface is French on every desktop, so the toolkit's own texts (an edit field's
    // menu, its standard buttons) are French too, whatever the locale says.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
