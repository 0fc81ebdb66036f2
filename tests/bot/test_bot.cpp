// The real tessaro-bot over loopback: a whole game against the session core, a flooding peer,
// its end when the peer leaves, and its usage errors.

#include "engine/Engine.h"
#include "engine/OpeningBook.h"
#include "support/Players.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

constexpr int kPatience = 60000;

// A bot listening on a loopback port (0: a free one), at the weakest level with a fixed chance.
struct TBot
{
    QProcess Process;
    quint16 Port = 0;

    explicit TBot(const QString& level = QStringLiteral("Débutant"), quint16 port = 0)
    {
        Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Process.start(QStringLiteral(TESSARO_BOT), {"--listen", QString::number(port), "--loopback", "--level", level, "--seed", "7"});
        if (Process.waitForReadyRead(kPatience))
            Port = Process.readLine().trimmed().toUShort();
    }
    ~TBot() { Process.kill(), Process.waitForFinished(); }
    bool EndsWell() { return Process.waitForFinished(kPatience) && Process.exitCode() == 0; }
    long ResidentKb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(Process.processId()));
        status.open(QIODevice::ReadOnly);
        const QByteArray text = status.readAll();
        return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').first().toLong();
    }
};

// Our side plays the engine's choice whenever it is its turn.
void PlayIfOurTurn(TSession& session, TEngine& engine)
{
    const TBoard& board = session.Match.Board;
    if (session.Match.GameState != gsLocalTurn)
        return;
    const std::atomic<bool> stop{false};
    const int column = engine.ChooseMove(TPosition::FromCells([&](int c, int r) { return board.Cell(c + 1, r + 1); }, cvLocal), stop) + 1;
    session.PlayLocalMove(column, board.FreeRow(column));
}

}  // namespace

class TestBot : public QObject
{
    Q_OBJECT

private slots:
    void wholeGame_data()
    {
        QTest::addColumn<QString>("level");
        QTest::addColumn<QString>("winners");  // of the three games: B the bot, U us
        QTest::newRow("Débutant against Fort") << QStringLiteral("Débutant") << QStringLiteral("UUU");
        // A bot that saw the board from our side would still win some games, but not these.
        QTest::newRow("Fort against Fort") << QStringLiteral("Fort") << QStringLiteral("BUB");
    }

    // Three games against the strong level: the results are fixed by the seeds, and whoever lost
    // starts the next game, the bot as readily as we do.
    void wholeGame()
    {
        QFETCH(QString, level);
        QFETCH(QString, winners);
        const TOpeningBook noBook;  // the strong level never reads it
        TEngine strong(TLevel::Fort, noBook, 3);
        TBot bot(level);
        QVERIFY(bot.Port != 0);
        TFakeWindow window;
        window.OnPlayAgain = [](const QString&) { return int(IDOK); };
        TSession me(window);
        me.Match.LocalName = QStringLiteral("Test");
        me.Connect(QStringLiteral("127.0.0.1"), QString::number(bot.Port));
        QString results;
        for (int games = 1; games <= 3; ++games) {
            const int remote = me.Match.RemoteScore;
            const auto played = [&] { return PlayIfOurTurn(me, strong), me.Match.LocalScore + me.Match.RemoteScore == games; };
            QVERIFY(RunModalUntil(played, kPatience));
            results += me.Match.RemoteScore > remote ? u'B' : u'U';
        }
        QCOMPARE(results, winners);
        QCOMPARE(me.Match.RemoteName, QStringLiteral("Ordinateur"));
        QVERIFY(window.ChatLines.contains(QStringLiteral("Ordinateur: Bonne partie !")));
        me.Disconnect();
        QVERIFY(bot.EndsWell());
    }

    // A flood of 200000 chat lines: the bot keeps none, and plays on. Garbage and oversized
    // strings meet the same session code in test_stress.
    void hostilePeer()
    {
        QByteArray attack;
        for (int i = 0; i < 200000; ++i)
            attack += Encoded(pkChat, 0, QString(200, QChar(u'a' + i % 26)));
        TBot bot;
        TRawPeer peer = TRawPeer::ConnectTo(bot.Port);
        QVERIFY(peer.IsOpen());
        QTest::qWait(200);
        const long before = bot.ResidentKb();
        // Bytes that cannot start a packet end whatever the attack left unfinished.
        QVERIFY(peer.SendAll(attack + QByteArray(16, char(0xFF))));
        // A batch that begins in garbage is dropped whole, so the move is offered until it lands.
        TPacketDecoder decoder;
        QElapsedTimer offered;
        bool moved = false;
        const auto botMoved = [&] {
            if (!offered.isValid() || offered.hasExpired(500))
                peer.SendAll(Encoded(pkNewGame) + Encoded(pkMove, 4)), offered.start();
            decoder.Append(peer.ReadAvailable());
            while (std::optional<TDataPacket> packet = decoder.Next())
                moved = moved || packet->Kind == pkMove;
            return moved;
        };
        QVERIFY(RunModalUntil(botMoved, kPatience));
        const long after = bot.ResidentKb();
        qInfo("resident memory of the bot: %ld kB before, %ld kB after", before, after);
        QVERIFY(after - before < 64 * 1024);  // keeping the lines would take over 80 MB
        QCOMPARE(bot.Process.state(), QProcess::Running);
    }

    // The position changes while the bot thinks: behind the move it thinks about come a new game
    // and another position, both with one move that does not lose at once. The ignored moves
    // fill the first read's share of packets (16), so the bot reads the second position only
    // after it began the first search.
    void answersTheNewPosition()
    {
        TBot bot(QStringLiteral("Fort"));
        TRawPeer peer = TRawPeer::ConnectTo(bot.Port);
        QVERIFY(peer.SendAll(Encoded(pkNewGame) + Encoded(pkMove, 7).repeated(3) + Encoded(pkMove, 0).repeated(20)
                             + Encoded(pkNewGame) + Encoded(pkMove, 1).repeated(3)));
        QByteArray received;
        const auto played = [&](int column) { return received.contains(Encoded(pkMove, column)); };
        QVERIFY(RunModalUntil([&] { received += peer.ReadAvailable(); return played(1) || played(7); }, kPatience));
        QVERIFY(played(1) && !played(7));
    }

    void endsWhenThePeerLeaves_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("goodbye, connection left open") << 0;
        QTest::newRow("end of stream") << 1;
        QTest::newRow("reset") << 2;
    }

    void endsWhenThePeerLeaves()
    {
        QFETCH(int, how);
        TBot bot;
        TRawPeer peer = TRawPeer::ConnectTo(bot.Port);
        QVERIFY(peer.SendAll(Encoded(pkName, 0, QStringLiteral("Zoé")) + Encoded(pkNewGame) + Encoded(pkMove, 4)));
        QTest::qWait(300);
        if (how == 0)
            QVERIFY(peer.SendAll(Encoded(pkBye)));
        else
            how == 1 ? peer.ShutdownWrite() : peer.Reset();
        QVERIFY(bot.EndsWell());
        // The port at once again, though the connection's end may still hold it (TIME_WAIT).
        peer.ReadAvailable(), peer.Close();
        QCOMPARE(TBot(QStringLiteral("Débutant"), bot.Port).Port, bot.Port);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("column 8") << QStringList{"--analyse", "448"};
        QTest::newRow("move after a four") << QStringList{"--analyse", "12121213"};
        QTest::newRow("seventh stone in a column") << QStringList{"--analyse", "4444444"};
        QTest::newRow("unknown level") << QStringList{"--listen", "0", "--level", "Expert"};
        QTest::newRow("connect without port") << QStringList{"--connect", "127.0.0.1"};
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QProcess bot;
        bot.start(QStringLiteral(TESSARO_BOT), arguments);
        QVERIFY(bot.waitForFinished(kPatience));
        QCOMPARE(bot.exitCode(), 2);
        QCOMPARE(bot.readAllStandardError().count('\n'), 1);
        QVERIFY(bot.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBot)
#include "test_bot.moc"
