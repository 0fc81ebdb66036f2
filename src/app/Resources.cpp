#include "app/Resources.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QString>

#include <array>
#include <cstring>

// The resources live in a static library, so nothing would pull them into the
// program unless they are registered by name; this must sit outside any namespace.
static void RegisterTessaroResources()
{
    Q_INIT_RESOURCE(tessaro);
}

namespace {

// Windows only need small pictures; the desktop takes larger ones from the installed theme,
// and every size here is decoded at start and sent to the display with every window.
constexpr std::array<int, 5> kIconSizes{16, 22, 24, 32, 48};

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
    for (int size : kIconSizes)
        icon.addFile(QStringLiteral(":/tessaro-%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap AppIconPixmap(int size)
{
    return AppIcon().pixmap(size);
}

QCursor HandCursor()
{
    const QBitmap black = HandBits([](char c) { return c == '#'; });
    const QBitmap shown = HandBits([](char c) { return c == '#' || c == '.'; });
    return QCursor(black, shown, 0, 0);
}
