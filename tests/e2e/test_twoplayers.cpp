// Two real programs on a private X server, played by mouse and keyboard as two people would and
// checked on the screen: one listens, the other connects over IPv6 (::1), a game is won, the
// loser plays again, and one side disconnects. Then one of them plays the computer.

#include "e2e/DesktopPlayers.h"

#include <csignal>

class TestTwoPlayers : public QObject, TDesktop
{
    Q_OBJECT

    TPlayer Alice{"Alice"}, Bob{"Bob"};

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
        QVERIFY(LocateBoards({&Alice, &Bob}));

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
