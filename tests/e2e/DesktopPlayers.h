#pragma once

// Players of real programs on a private X server, by mouse and keyboard as people would: windows
// found by their exact titles, menus opened by their keys, the board read from the screen.

#include "e2e/VirtualDisplay.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTest>

constexpr int kStep = 20000;
const QRgb kYellow = qRgb(255, 255, 0), kRed = qRgb(255, 0, 0), kWhite = qRgb(255, 255, 255);

inline quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct TPlayer
{
    explicit TPlayer(const char* name) : Name(QString::fromLatin1(name)) {}

    QString Name;
    QProcess Process;
    QString MainWindow;
    QRect Geometry, Board;

    // Cells split the board's blue area (a 5-pixel frame and gaps) in sevenths and sixths.
    QPoint Cell(int column, int row) const
    {
        const int w = qRound((Board.width() - 5) / 7.0), h = qRound((Board.height() - 5) / 6.0);
        return Board.topLeft() + QPoint((column - 1) * w + 5 + (w - 5) / 2, (6 - row) * h + 5 + (h - 5) / 2);
    }
    // The chat input, under the log at the window's right.
    QPoint ChatInput() const { return QPoint(Geometry.right() - 80, Board.bottom() - 25); }
};

struct TDesktop
{
    TVirtualDisplay Display;

    // A window showing exactly this title as a window manager reads it, carrying our icon and the
    // class that names the desktop entry, tessaro.desktop.
    QString WaitForWindow(const QString& title, const TPlayer& player, const QString& except = {})
    {
        const QString shown = QStringLiteral(" = \"%1\"").arg(title);  // as xprop prints either property
        for (QDeadlineTimer deadline(kStep); !deadline.hasExpired(); QTest::qWait(100))
            for (const QString& w : Display.FindWindows('^' + QString(title).replace(".", "\\.") + '$', player.Process.processId()))
                if (w != except && Display.Property(w, "_NET_WM_NAME").endsWith(shown) && Display.Property(w, "WM_NAME").endsWith(shown)
                    && Display.Property(w, "WM_CLASS") == "WM_CLASS(STRING) = \"tessaro\", \"tessaro\""
                    && Display.Property(w, "_NET_WM_ICON").contains("Icon (16 x 16)"))
                    return w;
        qWarning("no window titled %s with our class and icon appeared", qPrintable(title));
        return {};
    }

    bool Answer(const QString& title, const TPlayer& player, const QString& text, const QString& keys = "Return")
    {
        const QString window = WaitForWindow(title, player);
        if (window.isEmpty())
            return false;
        Display.Focus(window);
        if (!text.isEmpty())
            Display.Type(text);
        Display.Key(keys);
        return true;
    }

    // The name prompt comes before the main window: select-all is done, typing replaces it.
    // A wrapper (such as ip netns exec) may run the program, in an environment of the caller's.
    bool StartPlayer(TPlayer& player, QPoint position, const QStringList& wrapper = {},
                     const QProcessEnvironment& environment = {})
    {
        player.Process.setProcessEnvironment(environment.isEmpty() ? Display.Environment() : environment);
        player.Process.setProcessChannelMode(QProcess::ForwardedChannels);
        const QStringList command = wrapper + QStringList{QString::fromLocal8Bit(TESSARO_PROGRAM)};
        player.Process.start(command.first(), command.mid(1));
        if (!player.Process.waitForStarted(10000) || !Answer("Nom", player, player.Name))
            return false;
        player.MainWindow = WaitForWindow("Tessaro", player);
        Display.XDoTool({"windowmove", "--sync", player.MainWindow, QString::number(position.x()), QString::number(position.y())});
        if (!QTest::qWaitFor([&] { return Display.WindowGeometry(player.MainWindow).topLeft() == position; }, kStep))
            return false;
        player.Geometry = Display.WindowGeometry(player.MainWindow);
        return true;
    }

    // The board is the one pure-blue area of a window, once both windows are drawn where they stand.
    bool LocateBoards(std::initializer_list<TPlayer*> players)
    {
        QTest::qWait(500);
        const QImage screen = Display.Screenshot();
        for (TPlayer* player : players)
            for (int y = player->Geometry.top(); y <= player->Geometry.bottom(); ++y)
                for (int x = player->Geometry.left(); x <= player->Geometry.right(); ++x)
                    if (screen.valid(x, y) && screen.pixel(x, y) == qRgb(0, 0, 255))
                        player->Board |= QRect(x, y, 1, 1);
        for (TPlayer* player : players)
            if (player->Board.width() <= 100 || player->Board.height() <= 100)
                return false;
        return true;
    }

    void UseMenu(const TPlayer& player, const QString& keys)
    {
        Display.Focus(player.MainWindow);
        Display.Key("alt+" + keys.section(u' ', 0, 0));
        QTest::qWait(300);
        Display.Key(keys.section(u' ', 1));
    }

    // The cells as the screen shows them, once they do; false after a while.
    bool ShowsCells(const TPlayer& player, const QList<std::tuple<int, int, QRgb>>& cells)
    {
        return QTest::qWaitFor([&] {
            const QImage screen = Display.Screenshot();
            for (const auto& [column, row, colour] : cells)
                if (screen.pixel(player.Cell(column, row)) != colour)
                    return false;
            return true;
        }, kStep);
    }
};
