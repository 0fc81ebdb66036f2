#include "net/Resolver.h"
#include "net/Session.h"
#include "net/SocketErrors.h"
#include "net/SocketLayer.h"
#include "support/FakeWindow.h"
#include "support/ModalLoop.h"
#include "support/RawPeer.h"

#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kPatience = 20000;

const QString kNotConnected = QStringLiteral("Status: pas connecté");
const QString kRefused = QStringLiteral("Error 10061 in function Connect(Connect)\r\nConnection refused");
const QString kPortInUse = QStringLiteral("Ce port est déja utilisé. Essayez d'ecouter sur un autre port");

// One running program: the core and a fake window that records and answers.
class TPlayer
{
public:
    explicit TPlayer(const QString& name)
    {
        Session.Match.LocalName = name;
        Session.UpdateStatus();
    }

    TConnectionManager& Net() { return Session.Connection; }
    TMatchFlow& Match() { return Session.Match; }
    TSocketLayer& Sockets() { return Session.SocketLayer(); }

    TFakeWindow Window;
    TSession Session{Window};
};

int LowestEmptyRow(const TBoard& board, int column)
{
    for (int row = 1; row <= kRows; ++row) {
        if (board.Cell(column, row) == cvEmpty)
            return row;
    }
    return 0;
}

// A press on the lowest free cell of a column, and the wait until the other side applied it.
bool Play(TPlayer& mover, TPlayer& other, int column)
{
    const int repaints = other.Window.Repaints;
    mover.Session.PlayLocalMove(column, LowestEmptyRow(mover.Match().Board, column));
    return QTest::qWaitFor([&] { return other.Window.Repaints > repaints; }, kPatience);
}

bool Connect(TPlayer& listener, TPlayer& connector, const QString& address = QStringLiteral("127.0.0.1"))
{
    listener.Session.Listen1Click(QStringLiteral("0"));
    const std::uint16_t port = listener.Net().LocalPort();
    if (listener.Net().ConnectionState != csListening || port == 0)
        return false;
    connector.Session.Connect1Click(address, QString::number(port));
    return QTest::qWaitFor(
        [&] {
            return listener.Net().ConnectionState == csConnected && connector.Net().ConnectionState == csConnected
                && listener.Match().RemoteName == connector.Match().LocalName
                && connector.Match().RemoteName == listener.Match().LocalName
                && listener.Match().GameState == gsRemoteTurn;
        },
        kPatience);
}

// Alice moves first and wins in column 1 while Bob fills column 2.
bool AliceWins(TPlayer& alice, TPlayer& bob)
{
    for (int i = 0; i < 3; ++i) {
        if (!Play(alice, bob, 1) || !Play(bob, alice, 2))
            return false;
    }
    return Play(alice, bob, 1);
}

TDataPacket Packet(int kind, const QString& text = {}, int column = 0)
{
    TDataPacket packet;
    packet.Kind = kind;
    packet.Text = text;
    packet.Column = column;
    return packet;
}

bool Idle(TPlayer& player)
{
    return player.Net().ConnectionState == csNone && player.Net().Sock == 0 && player.Sockets().OpenSockets() == 0;
}

}  // namespace

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void wholeConversation();
    void newGameQuestion_data();
    void newGameQuestion();
    void winnerSeesTheNewGameBehindTheBox();
    void peerLeavesWhileThePlayAgainBoxIsOpen_data();
    void peerLeavesWhileThePlayAgainBoxIsOpen();
    void peerQuitsWithoutGoodbye();
    void stopListening();
    void listenerTakesOnlyOnePeer();
    void portAlreadyInUse();
    void refusedConnectIsReportedAndLeavesNothing();
    void disconnectWhileConnectingDropsTheAttempt();
    void unableToAccept();
    void failureTable_data();
    void failureTable();
    void statusTable_data();
    void statusTable();
    void listenStatusText();
    void dispatch_data();
    void dispatch();
    void resolveAddress_data();
    void resolveAddress();
    void portFromText_data();
    void portFromText();
    void shortAddressIsShownDotted();
    void portBytesInTheAddress();
    void nothingIsSentWithoutConnection();
    void chatFloodReachesASlowPeerIntact();
    void commandsTheStateDoesNotAllowAreIgnored();
    void newConnectionStartsAFreshStream();
    void reports();
};

void TestSession::wholeConversation()
{
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    QVERIFY(Connect(bob, alice));
    const QString port = alice.Net().PortText;

    QCOMPARE(alice.Window.ChatLines.first(), ":: Vous avez connecté à Bob");
    QCOMPARE(bob.Window.ChatLines.first(), ":: Vous avez connecté à Alice");
    QCOMPARE(alice.Match().GameState, gsLocalTurn);
    QCOMPARE(alice.Window.Status().Panel0, "Status: Connecté à 127.0.0.1 sûr Port " + port + " - Votre tour");
    QCOMPARE(alice.Window.Status().Panel1, "Alice 0 - Bob 0");
    QCOMPARE(bob.Window.Status().Panel0, "Status: Connecté à 127.0.0.1 sûr Port 0 - Alice's tour");
    QCOMPARE(bob.Window.Status().Panel1, "Bob 0 - Alice 0");

    bob.Window.PlayAgainAnswers = {IDOK};
    QVERIFY(AliceWins(alice, bob));
    QCOMPARE(alice.Window.Boxes.size(), 1);
    QCOMPARE(alice.Window.Boxes.first().Text, "Vous avez gagné!");
    QCOMPARE(alice.Window.Boxes.first().Caption, "Tessaro");
    QCOMPARE(alice.Window.Boxes.first().Flags, unsigned(MB_OK));
    QCOMPARE(bob.Window.PlayAgainMessages, QStringList{"Vous avez perdu"});
    QVERIFY(!alice.Window.WinLines.isEmpty());
    QCOMPARE(bob.Window.WinLines, alice.Window.WinLines);

    // Bob played again, so he moves first and Alice waits on an empty board.
    QTRY_COMPARE_WITH_TIMEOUT(alice.Match().GameState, gsRemoteTurn, kPatience);
    QCOMPARE(bob.Match().GameState, gsLocalTurn);
    QCOMPARE(alice.Match().Board, TBoard());
    QCOMPARE(bob.Match().Board, TBoard());
    QCOMPARE(alice.Window.Status().Panel1, "Alice 1 - Bob 0");
    QCOMPARE(bob.Window.Status().Panel1, "Bob 0 - Alice 1");
    QCOMPARE(bob.Window.Status().Panel0, "Status: Connecté à 127.0.0.1 sûr Port 0 - Votre tour");

    alice.Session.EnterChatText("salut");
    QCOMPARE(alice.Window.ChatLines.first(), "Alice: salut");
    QTRY_COMPARE_WITH_TIMEOUT(bob.Window.ChatLines.first(), "Alice: salut", kPatience);
    bob.Session.EnterChatText("");
    QCOMPARE(bob.Window.ChatLines.first(), "Bob: ");
    QTRY_COMPARE_WITH_TIMEOUT(alice.Window.ChatLines.first(), "Bob: ", kPatience);

    alice.Session.Disconnect1Click();
    QVERIFY(Idle(alice));
    QVERIFY(alice.Net().PortText.isEmpty() && alice.Net().PeerAddress.isEmpty());
    QCOMPARE(alice.Window.Status().Panel0, kNotConnected);
    QCOMPARE(alice.Window.Status().Panel1, QString());

    QTRY_VERIFY_WITH_TIMEOUT(Idle(bob), kPatience);
    // The goodbye is shown before the close is handled.
    const qsizetype bye = bob.Window.Log.lastIndexOf("chat: :: Alice a deconnecté");
    const qsizetype closed = bob.Window.Log.lastIndexOf("status: " + kNotConnected);
    QVERIFY(bye >= 0 && bye < closed);
    QCOMPARE(bob.Match().GameState, gsNone);
    QCOMPARE(bob.Match().LocalScore + bob.Match().RemoteScore, 0);
    QCOMPARE(bob.Match().RemoteName, "Alice");
    QVERIFY(bob.Net().PortText.isEmpty() && bob.Net().PeerAddress.isEmpty());
    QCOMPARE(bob.Window.Status(), alice.Window.Status());
    QVERIFY(bob.Window.Boxes.isEmpty());
}

void TestSession::newGameQuestion_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("no") << int(IDNO);
    QTest::newRow("yes") << int(IDYES);
}

void TestSession::newGameQuestion()
{
    QFETCH(int, answer);
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    QVERIFY(Connect(bob, alice));
    QVERIFY(Play(alice, bob, 3));
    QVERIFY(Play(bob, alice, 3));
    const TBoard board = alice.Match().Board;

    alice.Window.BoxAnswers = {answer};
    alice.Session.New1Click();
    QCOMPARE(alice.Window.Boxes.size(), 1);
    QCOMPARE(alice.Window.Boxes.first().Text, "Etes-vous certain que vous voulez quitter votre jeu?");
    QCOMPARE(alice.Window.Boxes.first().Caption, "Tessaro");
    QCOMPARE(alice.Window.Boxes.first().Flags, unsigned(MB_YESNO | MB_ICONSTOP));
    if (answer == IDNO) {
        QCOMPARE(alice.Match().Board, board);
        QCOMPARE(alice.Match().GameState, gsLocalTurn);
        return;
    }
    QCOMPARE(alice.Match().Board, TBoard());
    QTRY_COMPARE_WITH_TIMEOUT(bob.Match().Board, TBoard(), kPatience);
    QCOMPARE(bob.Match().GameState, gsRemoteTurn);
}

void TestSession::winnerSeesTheNewGameBehindTheBox()
{
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    QVERIFY(Connect(bob, alice));
    bob.Window.PlayAgainAnswers = {IDOK};
    TGameState underTheBox = gsNone;
    alice.Window.OnBox = [&](const TShownBox&) {
        RunModalUntil([&] { return alice.Match().GameState == gsRemoteTurn; });
        underTheBox = alice.Match().GameState;
        return int(IDOK);
    };
    QVERIFY(AliceWins(alice, bob));
    QCOMPARE(underTheBox, gsRemoteTurn);
    QCOMPARE(alice.Match().Board, TBoard());
    QCOMPARE(alice.Match().LocalScore, 1);
}

void TestSession::peerLeavesWhileThePlayAgainBoxIsOpen_data()
{
    QTest::addColumn<bool>("goodbye");
    QTest::addColumn<int>("answer");
    QTest::newRow("goodbye, then quit") << true << int(IDCANCEL);
    QTest::newRow("goodbye, then play again") << true << int(IDOK);
    QTest::newRow("program ends, then quit") << false << int(IDCANCEL);
    QTest::newRow("program ends, then play again") << false << int(IDOK);
}

void TestSession::peerLeavesWhileThePlayAgainBoxIsOpen()
{
    QFETCH(bool, goodbye);
    QFETCH(int, answer);
    TPlayer bob("Bob");
    auto alice = std::make_unique<TPlayer>("Alice");
    QVERIFY(Connect(bob, *alice));

    // The box is opened by a received packet: the close runs inside its nested loop, under
    // the interrupted packet handling. Run under AddressSanitizer, this must stay clean.
    bool closedUnderTheBox = false;
    bob.Window.OnPlayAgain = [&](const QString&) {
        if (goodbye)
            alice->Session.Disconnect1Click();
        else
            QTimer::singleShot(0, [&] { alice.reset(); });
        closedUnderTheBox = RunModalUntil([&] { return bob.Net().ConnectionState == csNone; });
        return answer;
    };
    QVERIFY(AliceWins(*alice, bob));
    QTRY_VERIFY_WITH_TIMEOUT(closedUnderTheBox, kPatience);
    QVERIFY(Idle(bob));
    QCOMPARE(bob.Window.ChatLines.first() == ":: Alice a deconnecté", goodbye);
    if (answer == IDOK) {
        // Playing again without a connection: a local game whose packets go nowhere.
        QCOMPARE(bob.Match().GameState, gsLocalTurn);
        bob.Session.PlayLocalMove(5, 1);
        QCOMPARE(bob.Match().GameState, gsRemoteTurn);
        QCOMPARE(bob.Match().Board.Cell(5, 1), cvLocal);
    } else {
        QCOMPARE(bob.Match().GameState, gsNone);
    }
    QVERIFY(Idle(bob));
    QVERIFY(bob.Window.Boxes.isEmpty());
    QTest::qWait(20);
}

void TestSession::peerQuitsWithoutGoodbye()
{
    TPlayer bob("Bob");
    auto alice = std::make_unique<TPlayer>("Alice");
    QVERIFY(Connect(bob, *alice));
    QVERIFY(Play(*alice, bob, 4));
    const qsizetype chatLines = bob.Window.ChatLines.size();
    alice.reset();
    QTRY_VERIFY_WITH_TIMEOUT(Idle(bob), kPatience);
    QCOMPARE(bob.Window.ChatLines.size(), chatLines);
    QCOMPARE(bob.Match().GameState, gsNone);
    QCOMPARE(bob.Match().Board.Cell(4, 1), cvRemote);  // the board keeps its pieces
    QCOMPARE(bob.Window.Status().Panel0, kNotConnected);
    QVERIFY(bob.Window.Boxes.isEmpty());
}

void TestSession::stopListening()
{
    TPlayer bob("Bob");
    bob.Session.Listen1Click("0");
    const std::uint16_t port = bob.Net().LocalPort();
    QCOMPARE(bob.Net().ConnectionState, csListening);
    bob.Session.StopListening1Click();
    QVERIFY(Idle(bob));
    QVERIFY(bob.Net().PortText.isEmpty());
    QCOMPARE(bob.Window.Status().Panel0, kNotConnected);
    QVERIFY(!TRawPeer::ConnectTo(port).IsOpen());
    QVERIFY(bob.Window.Boxes.isEmpty());
}

void TestSession::listenerTakesOnlyOnePeer()
{
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    TPlayer carol("Carol");
    QVERIFY(Connect(bob, alice));
    const QString port = alice.Net().PortText;
    carol.Session.Connect1Click("127.0.0.1", port);
    QTRY_COMPARE_WITH_TIMEOUT(carol.Window.Boxes.size(), 1, kPatience);
    QCOMPARE(carol.Window.Boxes.first().Text, kRefused);
    QCOMPARE(carol.Window.Boxes.first().Caption, "Winsock Error");
    QCOMPARE(carol.Window.Boxes.first().Flags, unsigned(MB_OK));
    QVERIFY(Idle(carol));
    QCOMPARE(carol.Match().GameState, gsNone);
    QCOMPARE(bob.Match().RemoteName, "Alice");
    QCOMPARE(bob.Net().ConnectionState, csConnected);
}

void TestSession::portAlreadyInUse()
{
    TPlayer bob("Bob");
    TPlayer carol("Carol");
    bob.Session.Listen1Click("0");
    carol.Session.Listen1Click(QString::number(bob.Net().LocalPort()));
    QCOMPARE(carol.Window.Boxes.size(), 1);
    QCOMPARE(carol.Window.Boxes.first().Text, kPortInUse);
    QCOMPARE(carol.Window.Boxes.first().Caption, "Tessaro");
    QCOMPARE(carol.Window.Boxes.first().Flags, unsigned(MB_OK));
    QVERIFY(Idle(carol));
    QVERIFY(carol.Window.Status().ListenEnabled);
    QCOMPARE(bob.Net().ConnectionState, csListening);
}

void TestSession::refusedConnectIsReportedAndLeavesNothing()
{
    TPlayer alice("Alice");
    const TRawPeer closedPort = TRawPeer::BoundNotListening();
    const QString port = QString::number(closedPort.Port());
    QTest::qWait(10);
    const int descriptors = OpenDescriptorCount();
    constexpr int kAttempts = 200;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        alice.Session.Connect1Click("127.0.0.1", port);
        QVERIFY(QTest::qWaitFor([&] { return alice.Window.Boxes.size() == attempt; }, kPatience));
        QCOMPARE(alice.Window.Boxes.last().Text, kRefused);
        QVERIFY(Idle(alice));
    }
    QCOMPARE(alice.Match().GameState, gsNone);
    QVERIFY(!alice.Window.Log.join('\n').contains("Connecté"));
    QCOMPARE(alice.Window.Status().Panel0, kNotConnected);
    QTest::qWait(10);
    QCOMPARE(OpenDescriptorCount(), descriptors);
}

void TestSession::disconnectWhileConnectingDropsTheAttempt()
{
    TPlayer alice("Alice");
    TRawPeer listener = TRawPeer::Listener();
    alice.Session.Connect1Click("127.0.0.1", QString::number(listener.Port()));
    QCOMPARE(alice.Net().ConnectionState, csConnecting);
    QCOMPARE(alice.Window.Status().Panel0, "Status: Attente de connection");
    alice.Session.Disconnect1Click();
    QVERIFY(Idle(alice));
    QTest::qWait(100);
    QVERIFY(alice.Window.Boxes.isEmpty());
    QCOMPARE(alice.Match().GameState, gsNone);
    // Whatever the kernel completed of the handshake carries no goodbye and no name.
    TRawPeer accepted = listener.Accept();
    if (accepted.IsOpen()) {
        QByteArray bytes;
        QTRY_VERIFY_WITH_TIMEOUT((bytes += accepted.ReadAvailable(), accepted.SawEndOfStream()), kPatience);
        QCOMPARE(bytes, QByteArray());
    }
}

void TestSession::unableToAccept()
{
    TPlayer bob("Bob");
    bob.Session.Listen1Click("0");
    const std::uint16_t port = bob.Net().LocalPort();
    TRawPeer peer = TRawPeer::ConnectTo(port);
    QVERIFY(peer.IsOpen());

    // No descriptor is left for accept() until the box has been shown: the limit is on
    // descriptor numbers, so it goes down to the lowest free one.
    const int lowestFree = ::dup(STDERR_FILENO);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowestFree);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &tight), 0);
    TConnectionState underTheBox = csNone;
    bob.Window.OnBox = [&](const TShownBox&) {
        underTheBox = bob.Net().ConnectionState;
        setrlimit(RLIMIT_NOFILE, &saved);
        return int(IDOK);
    };
    QTRY_VERIFY_WITH_TIMEOUT(!bob.Window.Boxes.isEmpty(), kPatience);
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(bob.Window.Boxes.first().Text, "Unable to accept connection");
    QCOMPARE(bob.Window.Boxes.first().Flags, unsigned(MB_ICONERROR));
    QCOMPARE(underTheBox, csListening);
    // The listener stayed, and takes the waiting peer once it can.
    QTRY_COMPARE_WITH_TIMEOUT(bob.Net().ConnectionState, csConnected, kPatience);
    QCOMPARE(bob.Window.Boxes.size(), 1);
}

void TestSession::failureTable_data()
{
    QTest::addColumn<bool>("listen");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("message");

    const QString noPort = "Le port n'est pas specifié";
    const QString unresolved = "Incapable de resoudre le hote";
    const QString longAddress(10000, 'a');
    const QString longPort(10000, '7');
    const QString badLabel = QString(64, 'x') + ".invalid";  // refused by the resolver itself, no network

    QTest::newRow("connect, empty port") << false << "127.0.0.1" << "" << noPort;
    QTest::newRow("connect, empty port and address") << false << "" << "" << noPort;
    QTest::newRow("connect, empty address") << false << "" << "1024" << "L'adresse n'est pas specifiée";
    QTest::newRow("connect, unknown host") << false << badLabel << "1024" << unresolved;
    QTest::newRow("connect, 10000-character address") << false << longAddress << "1024" << unresolved;
    QTest::newRow("connect, address holding a NUL") << false << QString("127.0.0.1") + QChar(0) + "x" << "1024"
                                                    << unresolved;
    QTest::newRow("connect, port not a number") << false << "127.0.0.1" << "abc"
                                                << "'abc' is not a valid integer value.";
    QTest::newRow("connect, port beyond 32 bits") << false << "127.0.0.1" << "99999999999"
                                                  << "'99999999999' is not a valid integer value.";
    QTest::newRow("connect, port checked before the address") << false << longAddress << "1x"
                                                              << "'1x' is not a valid integer value.";
    QTest::newRow("connect, 10000-character port") << false << "127.0.0.1" << longPort
                                                   << "'" + longPort + "' is not a valid integer value.";
    QTest::newRow("listen, empty port") << true << "" << "" << noPort;
    QTest::newRow("listen, port not a number") << true << "" << "port" << "'port' is not a valid integer value.";
    QTest::newRow("listen, 10000-character port") << true << "" << longPort
                                                  << "'" + longPort + "' is not a valid integer value.";
}

void TestSession::failureTable()
{
    QFETCH(bool, listen);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, message);
    TPlayer alice("Alice");
    if (listen)
        alice.Session.Listen1Click(port);
    else
        alice.Session.Connect1Click(address, port);
    QCOMPARE(alice.Window.Boxes.size(), 1);
    QCOMPARE(alice.Window.Boxes.first().Text, message);
    QCOMPARE(alice.Window.Boxes.first().Caption, "Tessaro");
    QCOMPARE(alice.Window.Boxes.first().Flags, unsigned(MB_ICONERROR));
    QVERIFY(Idle(alice));
    QCOMPARE(alice.Window.Status().Panel0, kNotConnected);
}

void TestSession::statusTable_data()
{
    QTest::addColumn<int>("connection");
    QTest::addColumn<int>("game");
    QTest::addColumn<QString>("panel0");
    QTest::addColumn<QString>("panel1");
    QTest::addColumn<QString>("menu");  // Connect, Disconnect, Listen, Stop listening
    QTest::addColumn<bool>("scoresKept");

    const QString connected = "Status: Connecté à 10.1.2.3 sûr Port 1024 - ";
    QTest::newRow("none") << int(csNone) << int(gsOver) << kNotConnected << "" << "+-+-" << false;
    QTest::newRow("connected, no game") << int(csConnected) << int(gsNone) << connected + "Il n'y a pas de jeu"
                                        << "Alice 3 - Ma%1rie 2" << "-+--" << true;
    QTest::newRow("connected, over") << int(csConnected) << int(gsOver) << connected + "Le jeu est fini"
                                     << "Alice 3 - Ma%1rie 2" << "-+--" << true;
    QTest::newRow("connected, our turn") << int(csConnected) << int(gsLocalTurn) << connected + "Votre tour"
                                         << "Alice 3 - Ma%1rie 2" << "-+--" << true;
    QTest::newRow("connected, their turn") << int(csConnected) << int(gsRemoteTurn)
                                           << connected + "Ma%1rie's tour" << "Alice 3 - Ma%1rie 2" << "-+--" << true;
    QTest::newRow("listening") << int(csListening) << int(gsNone) << "Status:Ecoute pour connection: x (y) sur Port 7"
                               << "" << "---+" << false;
    QTest::newRow("connecting") << int(csConnecting) << int(gsLocalTurn) << "Status: Attente de connection" << ""
                                << "-+--" << false;
}

void TestSession::statusTable()
{
    QFETCH(int, connection);
    QFETCH(int, game);
    QFETCH(QString, panel0);
    QFETCH(QString, panel1);
    QFETCH(QString, menu);
    QFETCH(bool, scoresKept);
    TPlayer alice("Alice");
    TConnectionManager& net = alice.Net();
    net.ConnectionState = TConnectionState(connection);
    net.PeerAddress = "10.1.2.3";
    net.PortText = "1024";
    net.ListenStatusText = "Status:Ecoute pour connection: x (y) sur Port 7";
    alice.Match().GameState = TGameState(game);
    alice.Match().RemoteName = "Ma%1rie";  // a placeholder in a name is text, not a slot
    alice.Match().LocalScore = 3;
    alice.Match().RemoteScore = 2;
    alice.Session.UpdateStatus();

    const TStatusTexts status = alice.Window.Status();
    QCOMPARE(status.Panel0, panel0);
    QCOMPARE(status.Panel1, panel1);
    const QString flags = QString(status.ConnectEnabled ? '+' : '-') + (status.DisconnectEnabled ? '+' : '-')
        + (status.ListenEnabled ? '+' : '-') + (status.StopListeningEnabled ? '+' : '-');
    QCOMPARE(flags, menu);
    QCOMPARE(alice.Match().LocalScore, scoresKept ? 3 : 0);
    QCOMPARE(alice.Match().RemoteScore, scoresKept ? 2 : 0);
    net.ConnectionState = csNone;  // nothing real to close
}

void TestSession::listenStatusText()
{
    TPlayer bob("Bob");
    bob.Session.Listen1Click("0");
    const QString text = bob.Net().ListenStatusText;
    QCOMPARE(bob.Window.Status().Panel0, text);
    const QString prefix = "Status:Ecoute pour connection: ";
    const QString suffix = " sur Port 0";
    // Empty when this machine cannot look its own name up; otherwise fully formed.
    QVERIFY2(text.isEmpty() || (text.startsWith(prefix) && text.endsWith(suffix) && text.contains(" (")),
             qPrintable(text));
    if (!text.isEmpty()) {
        const QString inner = text.mid(prefix.size(), text.size() - prefix.size() - suffix.size());
        const QString dotted = inner.section(" (", -1).chopped(1);
        QVERIFY2(TConnectionManager::ResolveAddress(dotted) == dotted, qPrintable(dotted));
    }
}

void TestSession::dispatch_data()
{
    QTest::addColumn<TDataPacket>("packet");
    QTest::addColumn<QString>("chatLine");  // empty: no line added
    QTest::addColumn<QString>("remoteName");
    QTest::addColumn<int>("gameState");
    QTest::addColumn<int>("pieces");

    QTest::newRow("name") << Packet(pkName, "Marie") << ":: Vous avez connecté à Marie" << "Marie" << int(gsNone) << 0;
    QTest::newRow("empty name") << Packet(pkName) << ":: Vous avez connecté à " << "" << int(gsNone) << 0;
    QTest::newRow("goodbye before any name") << Packet(pkBye) << ":: aucun a deconnecté" << "aucun" << int(gsNone)
                                             << 0;
    QTest::newRow("chat") << Packet(pkChat, "Paul: salut") << "Paul: salut" << "aucun" << int(gsNone) << 0;
    QTest::newRow("chat with placeholders") << Packet(pkChat, "%1 %2") << "%1 %2" << "aucun" << int(gsNone) << 0;
    QTest::newRow("move") << Packet(pkMove, {}, 4) << "" << "aucun" << int(gsLocalTurn) << 1;
    QTest::newRow("move, column 0") << Packet(pkMove, {}, 0) << "" << "aucun" << int(gsNone) << 0;
    QTest::newRow("move, column 8") << Packet(pkMove, {}, 8) << "" << "aucun" << int(gsNone) << 0;
    QTest::newRow("move, column -1") << Packet(pkMove, {}, -1) << "" << "aucun" << int(gsNone) << 0;
    QTest::newRow("new game") << Packet(pkNewGame) << "" << "aucun" << int(gsRemoteTurn) << 0;
    QTest::newRow("kind 5") << Packet(5, "x", 3) << "" << "aucun" << int(gsNone) << 0;
    QTest::newRow("kind -1") << Packet(-1, "x", 3) << "" << "aucun" << int(gsNone) << 0;
}

void TestSession::dispatch()
{
    QFETCH(TDataPacket, packet);
    QFETCH(QString, chatLine);
    QFETCH(QString, remoteName);
    QFETCH(int, gameState);
    QFETCH(int, pieces);
    TPlayer alice("Alice");
    alice.Net().DispatchPacket(packet);
    QCOMPARE(alice.Window.ChatLines, chatLine.isEmpty() ? QStringList() : QStringList{chatLine});
    QCOMPARE(alice.Match().RemoteName, remoteName);
    QCOMPARE(int(alice.Match().GameState), gameState);
    int count = 0;
    for (int col = 1; col <= kColumns; ++col) {
        for (int row = 1; row <= kRows; ++row)
            count += alice.Match().Board.Cell(col, row) != cvEmpty;
    }
    QCOMPARE(count, pieces);
    QCOMPARE(alice.Net().ConnectionState, csNone);
    QVERIFY(alice.Window.Boxes.isEmpty());
}

void TestSession::resolveAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("resolved");
    QTest::newRow("short dotted") << "127.1" << "127.0.0.1";
    QTest::newRow("dotted") << "192.168.10.20" << "192.168.10.20";
    QTest::newRow("single number") << "16909060" << "1.2.3.4";
    QTest::newRow("host name") << "localhost" << "127.0.0.1";
    QTest::newRow("unresolvable stays") << QString(64, 'x') + ".invalid" << QString(64, 'x') + ".invalid";
    QTest::newRow("10000 characters stay") << QString(10000, '9') << QString(10000, '9');
}

void TestSession::resolveAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, resolved);
    QCOMPARE(TConnectionManager::ResolveAddress(text), resolved);
}

void TestSession::portFromText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");  // -1: not a port
    QTest::newRow("1024") << "1024" << 1024;
    QTest::newRow("0") << "0" << 0;
    QTest::newRow("65535") << "65535" << 65535;
    QTest::newRow("65536 wraps") << "65536" << 0;
    QTest::newRow("70000 keeps low bits") << "70000" << 4464;
    QTest::newRow("-1") << "-1" << 65535;
    QTest::newRow("lowest int") << "-2147483648" << 0;
    QTest::newRow("highest int") << "2147483647" << 65535;
    QTest::newRow("beyond int") << "2147483648" << -1;
    QTest::newRow("service name") << "http" << 80;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("letters") << "abc" << -1;
    QTest::newRow("trailing letters") << "12abc" << -1;
    QTest::newRow("exponent") << "1e3" << -1;
    QTest::newRow("10000 digits") << QString(10000, '1') << -1;
}

void TestSession::portFromText()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    if (text == "http" && !TResolver::GetServByName(text))
        QSKIP("no services database on this machine");
    const std::optional<std::uint16_t> result = TConnectionManager::PortFromText(text);
    QCOMPARE(result ? int(*result) : -1, port);
}

void TestSession::shortAddressIsShownDotted()
{
    TPlayer bob("Bob");
    TPlayer alice("Alice");
    QVERIFY(Connect(bob, alice, "127.1"));
    QCOMPARE(alice.Net().PeerAddress, "127.0.0.1");
    QCOMPARE(bob.Net().PeerAddress, "127.0.0.1");
    QVERIFY(alice.Window.Status().Panel0.startsWith("Status: Connecté à 127.0.0.1 sûr Port "));
}

void TestSession::portBytesInTheAddress()
{
    TPlayer alice("Alice");
    alice.Session.Connect1Click("127.0.0.1", "1024");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&alice.Net().SockAddr.sin_port);
    QCOMPARE(bytes[0], 0x04);
    QCOMPARE(bytes[1], 0x00);
    QCOMPARE(alice.Net().SockAddr.sin_family, sa_family_t(AF_INET));
    alice.Session.Disconnect1Click();
}

void TestSession::nothingIsSentWithoutConnection()
{
    TPlayer bob("Bob");
    bob.Session.EnterChatText("seul");
    bob.Session.SendMove(3);
    bob.Session.SendNewGame();
    QCOMPARE(bob.Window.ChatLines, QStringList{"Bob: seul"});
    bob.Session.Listen1Click("0");
    bob.Session.EnterChatText("en attente");
    bob.Session.SendMove(3);
    bob.Session.Disconnect1Click();
    QVERIFY(Idle(bob));
    bob.Session.Listen1Click("0");
    bob.Session.SendChatLine("encore");

    // The first bytes a peer gets are the name sent on accepting, and nothing else.
    TRawPeer peer = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QTRY_COMPARE_WITH_TIMEOUT(bob.Net().ConnectionState, csConnected, kPatience);
    const QByteArray name = EncodePacket(Packet(pkName, "Bob"));
    QByteArray received;
    QTRY_VERIFY_WITH_TIMEOUT((received += peer.ReadAvailable()).size() >= name.size(), kPatience);
    QTest::qWait(50);
    received += peer.ReadAvailable();
    QCOMPARE(received, name);
    QVERIFY(bob.Window.Boxes.isEmpty());
}

void TestSession::chatFloodReachesASlowPeerIntact()
{
    TPlayer bob("Bob");
    bob.Session.Listen1Click("0");
    TRawPeer peer = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QTRY_COMPARE_WITH_TIMEOUT(bob.Net().ConnectionState, csConnected, kPatience);

    // The peer reads nothing while megabytes of chat go out; nothing may block or get lost.
    constexpr int kLines = 60000;
    const QString filler(140, QChar(u'é'));
    for (int i = 0; i < kLines; ++i)
        bob.Session.SendChatLine(QString::number(i) + filler);
    QVERIFY(bob.Sockets().QueuedBytes(bob.Net().Sock) > 0);

    // Then it reads; the event loop must keep turning while the queue drains.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    TPacketDecoder decoder;
    QList<TDataPacket> packets;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        decoder.Append(peer.ReadAvailable());
        while (std::optional<TDataPacket> packet = decoder.Next())
            packets << *packet;
    });
    reader.start(0);
    QTRY_VERIFY_WITH_TIMEOUT(packets.size() >= kLines + 1, kPatience * 3);
    QCOMPARE(packets.size(), kLines + 1);
    QCOMPARE(packets.first(), Packet(pkName, "Bob"));
    for (int i = 0; i < kLines; ++i) {
        if (packets[i + 1] != Packet(pkChat, QString::number(i) + filler))
            QFAIL(qPrintable(QString("chat line %1 arrived wrong").arg(i)));
    }
    QCOMPARE(bob.Sockets().QueuedBytes(bob.Net().Sock), 0);
    QVERIFY2(ticks > 0, "the event loop stalled while the queue drained");
}

void TestSession::commandsTheStateDoesNotAllowAreIgnored()
{
    TPlayer bob("Bob");
    bob.Session.StopListening1Click();
    QVERIFY(Idle(bob));
    bob.Session.Listen1Click("0");
    const TSocket listener = bob.Net().Sock;
    bob.Session.Connect1Click("127.0.0.1", "1");
    bob.Session.Listen1Click("0");
    QCOMPARE(bob.Net().ConnectionState, csListening);
    QCOMPARE(bob.Net().Sock, listener);
    QCOMPARE(bob.Net().PortText, "0");
    QCOMPARE(bob.Sockets().OpenSockets(), 1);
    QVERIFY(bob.Window.Boxes.isEmpty());
}

void TestSession::newConnectionStartsAFreshStream()
{
    TPlayer bob("Bob");
    const QByteArray chat = EncodePacket(Packet(pkChat, "Paul: salut"));
    bob.Session.Listen1Click("0");
    TRawPeer first = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QVERIFY(first.SendAll(chat.left(10)));
    QTest::qWait(50);
    first.Close();
    QTRY_VERIFY_WITH_TIMEOUT(Idle(bob), kPatience);

    bob.Session.Listen1Click("0");
    TRawPeer second = TRawPeer::ConnectTo(bob.Net().LocalPort());
    QVERIFY(second.SendAll(chat + QByteArray("\x01garbage", 8) + chat));
    QTRY_COMPARE_WITH_TIMEOUT(bob.Window.ChatLines.size(), 1, kPatience);
    QCOMPARE(bob.Window.ChatLines.first(), "Paul: salut");
    QTest::qWait(50);
    QCOMPARE(bob.Window.ChatLines.size(), 1);  // everything from the flaw on is dropped
    QCOMPARE(bob.Net().ConnectionState, csConnected);
}

void TestSession::reports()
{
    TPlayer alice("Alice");
    alice.Sockets().WSASetLastError(0);
    alice.Session.ReportSocketError("Liten(WSAASyncSelect)");
    alice.Sockets().WSASetLastError(10072);
    alice.Session.ReportSocketError("Disconnect (closesocket)");
    alice.Session.ShowError("Unable to accept connection");
    QCOMPARE(alice.Window.Boxes.size(), 3);
    QCOMPARE(alice.Window.Boxes[0].Text, "Error 0 in function Liten(WSAASyncSelect)\r\nNot a WinSock error");
    QCOMPARE(alice.Window.Boxes[1].Text, "Error 10072 in function Disconnect (closesocket)\r\nNot a WinSock error");
    QCOMPARE(alice.Window.Boxes[0].Caption, "Winsock Error");
    QCOMPARE(alice.Window.Boxes[0].Flags, unsigned(MB_OK));
    QCOMPARE(alice.Window.Boxes[2].Caption, "Tessaro");
    QCOMPARE(alice.Window.Boxes[2].Flags, unsigned(MB_ICONERROR));
    QCOMPARE(TSession::ApplicationTitle(), "Tessaro");
}

QTEST_GUILESS_MAIN(TestSession)
#include "test_session.moc"
