// Two real programs on a private X server, played by mouse and keyboard as two people would and
// checked on the screen: one listens, the other connects over IPv6 (::1), a game is won, the
// loser plays again, and one side disconnects. Then one of them plays the computer.

#include "e2e/VirtualDisplay.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTest>

#include <csignal>

namespace {

constexpr int kStep = 20000;
const QRgb kYellow = qRgb(255, 255, 0), kRed = qRgb(255, 0, 0), kWhite = qRgb(255, 255, 255);

quint16 FreePort()
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

}  // namespace

class TestTwoPlayers : public QObject
{
    Q_OBJECT

    TVirtualDisplay Display;
    TPlayer Alice{"Alice"}, Bob{"Bob"};

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
    bool StartPlayer(TPlayer& player, QPoint position)
    {
        player.Process.setProcessEnvironment(Display.Environment());
        player.Process.setProcessChannelMode(QProcess::ForwardedChannels);
        player.Process.start(QString::fromLocal8Bit(TESSARO_PROGRAM), {});
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
    bool LocateBoards()
    {
        QTest::qWait(500);
        const QImage screen = Display.Screenshot();
        for (TPlayer* player : {&Alice, &Bob})
            for (int y = player->Geometry.top(); y <= player->Geometry.bottom(); ++y)
                for (int x = player->Geometry.left(); x <= player->Geometry.right(); ++x)
                    if (screen.valid(x, y) && screen.pixel(x, y) == qRgb(0, 0, 255))
                        player->Board |= QRect(x, y, 1, 1);
        return Alice.Board.width() > 100 && Bob.Board.height() > 100;
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

private slots:
    void initTestCase()
    {
        QString error;
        if (!Display.Start(&error))
            QSKIP(qPrintable("the end-to-end test needs an X server: " + error));
    }

    void wholeGameByClicks()
    {
        QVERIFY(StartPlayer(Alice, QPoint(0, 0)));
        QVERIFY(StartPlayer(Bob, QPoint(585, 0)));
        QVERIFY(LocateBoards());

        // Alice listens; Bob first tries a port where nothing listens (the socket error box), then
        // connects. "&Connectez..." shares its letter with "&Cessez d'écouter", so the letter only
        // selects; it is the first item, already selected in a menu opened by keys.
        const quint16 port = FreePort();
        UseMenu(Alice, "c e");
        QVERIFY(Answer("Ecoutez", Alice, QString::number(port)));
        QTest::qWait(500);
        for (const quint16 target : {FreePort(), port}) {
            UseMenu(Bob, "c Return");
            QVERIFY(Answer("Connectez...", Bob, "::1", "Tab"));
            Display.Type(QString::number(target));
            Display.Key("Return");
            if (target != port)
                QVERIFY(Answer("Winsock Error", Bob, {}));
        }

        // The connecting side opens the game. Bob fills column 1, Alice column 2, each move shown
        // on both screens, own pieces yellow, the other's red; Bob's fourth piece wins.
        for (int row = 1; row <= 3; ++row) {
            Display.Click(Bob.Cell(1, row));
            QVERIFY(ShowsCells(Alice, {{1, row, kRed}}));
            Display.Click(Alice.Cell(2, row));
            QVERIFY(ShowsCells(Bob, {{1, row, kYellow}, {2, row, kRed}}));
        }
        QVERIFY(ShowsCells(Alice, {{2, 3, kYellow}}));
        // TESSARO_SCREENSHOT=file.png keeps this picture of both windows mid-game (the README's).
        if (const QString path = qEnvironmentVariable("TESSARO_SCREENSHOT"); !path.isEmpty())
            Display.Screenshot().copy(Alice.Geometry.united(Bob.Geometry)).save(path);
        Display.Click(Bob.Cell(1, 4));

        // The winner sees the win box, the loser the play-again dialog; the loser plays again.
        const QString won = WaitForWindow("Tessaro", Bob, Bob.MainWindow);
        QVERIFY(!won.isEmpty());
        QVERIFY(Answer("Jouez encore une fois", Alice, {}));
        Display.Focus(won);
        Display.Key("Return");
        QTRY_COMPARE_WITH_TIMEOUT(Display.FindWindows("^Tessaro$", Bob.Process.processId()).size(), 1, kStep);

        // The loser moves first in the new game, on an emptied board; Bob answers from the
        // keyboard: Tab from the chat input to the board, then a column's digit.
        QVERIFY(ShowsCells(Bob, {{1, 1, kWhite}}));
        Display.Click(Alice.Cell(4, 1));
        QVERIFY(ShowsCells(Bob, {{4, 1, kRed}}));
        Display.Focus(Bob.MainWindow);
        Display.Click(Bob.ChatInput());
        Display.Key("Tab 5");
        QVERIFY(ShowsCells(Alice, {{1, 1, kWhite}, {4, 1, kYellow}, {5, 1, kRed}}));

        // Disconnecting leaves both programs up; Alice, now idle, goes on below.
        UseMenu(Bob, "c d");
        QTest::qWait(500);
        QCOMPARE(Bob.Process.state(), QProcess::Running);
    }

    // Alice, alone now, plays the computer from the Jeu menu with column digits until the game
    // ends (a full column and a key out of turn do nothing), then quits, leaving no bot running.
    void gameAgainstComputer()
    {
        if (Alice.Board.isEmpty())
            QSKIP("Alice's window did not come up");
        UseMenu(Alice, "j c");
        QVERIFY(Answer("Contre l'ordinateur", Alice, {}));
        QProcess pgrep;
        QTRY_VERIFY_WITH_TIMEOUT((pgrep.start("pgrep", {"-P", QString::number(Alice.Process.processId())}),
                                  pgrep.waitForFinished(), pgrep.exitCode() == 0), kStep);
        const pid_t bot = pid_t(pgrep.readAllStandardOutput().trimmed().toLongLong());
        Display.Focus(Alice.MainWindow);
        Display.Click(Alice.ChatInput());
        Display.Key("Tab");
        QStringList boxes;
        for (int press = 0; press < 200 && boxes.isEmpty(); ++press) {
            Display.Key(QString::number(1 + press % 7));
            QTest::qWait(300);
            boxes = Display.FindWindows("^(Tessaro|Jouez encore une fois)$", Alice.Process.processId());
            boxes.removeAll(Alice.MainWindow);
        }
        QVERIFY2(!boxes.isEmpty(), "the game against the computer did not end");
        Display.Focus(boxes.first());
        Display.Key("Return");
        UseMenu(Alice, "j q");
        QVERIFY(Alice.Process.waitForFinished(kStep));
        QTRY_VERIFY_WITH_TIMEOUT(kill(bot, 0) != 0, kStep);
    }
};

QTEST_GUILESS_MAIN(TestTwoPlayers)
#include "test_twoplayers.moc"
