// The main window behind a real router (miniupnpd in the namespaces of router.sh, which runs this
// in "lan"): what listening opens on the router, what the player is told, what a peer on the
// Internet side reaches, and that every way of ending takes it all back.

#include "app/Unit1.h"
#include "support/ModalLoop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString kLan = "192.0.2.10", kLan6 = "2001:db8:1::10", kWan = "198.51.100.1";

QString In(const QString& ns, const QString& program, const QStringList& arguments, int* status = nullptr)
{
    QProcess process;
    process.start("ip", QStringList{"netns", "exec", "tu-" + ns, program} + arguments);
    process.waitForFinished(15000);
    if (status)
        *status = process.exitCode();
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Whether a TCP connection from the Internet side gets through to the address and port.
bool WanReaches(const QString& address, quint16 port)
{
    int status = -1;
    In("wan", "timeout", {"3", "bash", "-c", QString("exec 3<>/dev/tcp/%1/%2").arg(address).arg(port)}, &status);
    return status == 0;
}

// The router's firewall and NAT rules that name the listening port.
bool RouterOpens(quint16 port)
{
    return In("rtr", "nft", {"list", "ruleset"}).contains(QString("dport %1 ").arg(port));
}

// Answers every box and dialog, each once, by its default key.
struct TBoxes
{
    QTimer Poll;
    QPointer<QWidget> Last;
    int Seen = 0;
    TBoxes()
    {
        QObject::connect(&Poll, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && modal != Last) {
                ++Seen;
                if (auto* name = (Last = modal)->findChild<QLineEdit*>())
                    name->setText("Alice");
                QTimer::singleShot(50, modal, [modal] { QTest::keyClick(modal, Qt::Key_Return); });
            }
        });
        Poll.start(20);
    }
};

}  // namespace

class TestPortMapping : public QObject
{
    Q_OBJECT

    TBoxes Boxes;
    std::unique_ptr<TForm1> Form;
    QElapsedTimer Clock;

    QString Chat() const { return Form->Memo2->toPlainText(); }
    bool Told(const QString& line, int timeoutMs = 8000)
    {
        return RunModalUntil([&] { return Chat().contains(line); }, timeoutMs);
    }
    // Listening, the notice expected, and how long the player waited for it.
    bool Listen(quint16 port, const QString& notice, int timeoutMs = 8000)
    {
        Clock.start();
        Form->Session().Listen(QString::number(port));
        const bool told = Told(notice.arg(port), timeoutMs);
        qInfo("%s after %lld ms%s", qPrintable(notice.arg(port)), Clock.elapsed(),
              told ? "" : qPrintable(", chat: " + Chat()));
        return told;
    }
    bool Closed(quint16 port) { return RunModalUntil([&] { return !RouterOpens(port); }, 5000); }

private slots:
    void init() { Form = std::make_unique<TForm1>(); }
    void cleanup() { Form.reset(); }

    // A mapping a crashed run left is taken back at start-up; listening maps the port, the peer
    // from the Internet plays a whole game through it, and the accepted peer closes it.
    void upnpMapping()
    {
        Form.reset();
        In("lan", "upnpc", {"-i", "-e", "Tessaro", "-a", kLan, "45011", "45011", "TCP"});
        QVERIFY(RouterOpens(45011));
        Form = std::make_unique<TForm1>();
        QVERIFY(Closed(45011));

        QVERIFY(Listen(45010, ":: Adresse Internet: " + kWan + " port %1"));
        QVERIFY(RouterOpens(45010));
        QProcess bot;
        bot.start("ip", {"netns", "exec", "tu-wan", TESSARO_BOT, "--connect", kWan, "--level", "Débutant", "45010"});
        // Until the game's end opens a box, won or lost.
        const int boxes = Boxes.Seen;
        QVERIFY(RunModalUntil([&] {
            for (int column = 1; column <= 7; ++column)
                for (int row = 1; row <= 6; ++row)
                    Form->Session().PlayLocalMove(column, row);
            return Boxes.Seen > boxes;
        }, 60000));
        QVERIFY(Closed(45010));
        QVERIFY(!WanReaches(kWan, 45010));
        Form->Session().Disconnect();
        QVERIFY(bot.waitForFinished(10000));
    }

    // Stop listening and quitting take the mapping back; quitting waits for the router at most
    // about a second.
    void stopAndQuit()
    {
        QVERIFY(Listen(45012, ":: Adresse Internet: " + kWan + " port %1"));
        Form->Session().StopListening();
        QVERIFY(Closed(45012));
        QVERIFY(Listen(45013, ":: Adresse Internet: " + kWan + " port %1"));
        Clock.start();
        Form.reset();
        qInfo("quit took %lld ms", Clock.elapsed());
        QVERIFY(!RouterOpens(45013));
        QVERIFY(!WanReaches(kWan, 45013));
    }

    // A router that stops answering holds quitting up for about a second, not for its timeouts.
    void frozenRouter()
    {
        QVERIFY(Listen(45018, ":: Adresse Internet: " + kWan + " port %1"));
        QFile pid(qEnvironmentVariable("TESSARO_TEST_ROUTER") + "/pid");
        QVERIFY(pid.open(QIODevice::ReadOnly));
        const QString daemon = QString::fromLatin1(pid.readAll()).trimmed();
        QProcess::execute("kill", {"-STOP", daemon});
        Clock.start();
        Form.reset();
        const qint64 quit = Clock.elapsed();
        QProcess::execute("kill", {"-CONT", daemon});
        qInfo("quit with a frozen router took %lld ms", quit);
        QVERIFY(quit < 3 * TPortMapper::kQuitGraceMs);
    }

    // The IPv6 firewall lets the Internet reach the listener's global address only while it listens.
    void ipv6Pinhole()
    {
        QVERIFY(!WanReaches(kLan6, 45014));
        QVERIFY(Listen(45014, ":: Adresse Internet: " + kLan6 + " port %1"));
        QVERIFY(WanReaches(kLan6, 45014));
        QVERIFY(Closed(45014));
        QVERIFY(!WanReaches(kLan6, 45014));
    }

    // With UPnP off on the router.
    void natPmpMapping()
    {
        QVERIFY(Listen(45015, ":: Adresse Internet: " + kWan + " port %1"));
        QVERIFY(WanReaches(kWan, 45015));
        QVERIFY(Closed(45015));
        QVERIFY(!WanReaches(kWan, 45015));
    }

    // A router behind a provider's carrier-grade NAT maps the port, but nobody reaches its address.
    void sharedAddress()
    {
        QVERIFY(Listen(45017, ":: Routeur: port %1 ouvert, mais son adresse 100.64.0.1 est privée ou partagée"));
    }

    // No mapper on the router: the player hears it in time and the local network still connects.
    void noGateway()
    {
        QVERIFY(Listen(45016, ":: Routeur: pas d'ouverture automatique (ouvrez le port %1 à la main)",
                       TPortMapper::kNoticeDelayMs + 1000));
        int status = -1;
        In("rtr", "bash", {"-c", "exec 3<>/dev/tcp/" + kLan + "/45016"}, &status);
        QCOMPARE(status, 0);
    }
};

QTEST_MAIN(TestPortMapping)
#include "test_portmapping.moc"
