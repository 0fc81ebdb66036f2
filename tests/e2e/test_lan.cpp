// Games on the local network with the real pieces: a network namespace of our own with one
// multicast link, a private system bus and avahi-daemon in it. Two real programs in it under
// Xvfb find each other and play; the list is also read in this process while a flood of
// hostile announcements arrives.

#include "app/NetworkGamesDialog.h"
#include "e2e/DesktopPlayers.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <avahi-client/publish.h>

namespace {

bool Run(const QStringList& command, QString* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    const bool done = process.waitForFinished(kStep) && process.exitStatus() == QProcess::NormalExit;
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    return done && process.exitCode() == 0;
}

const char* const kBusConfig =
    "<busconfig><type>system</type><listen>unix:path=%1</listen><auth>EXTERNAL</auth><policy context='default'>"
    "<allow user='*'/><allow own='*'/><allow send_destination='*'/><allow receive_sender='*'/></policy></busconfig>";
const char* const kAvahiConfig = "[server]\nhost-name=tl-host\nallow-interfaces=tl0\nenable-dbus=yes\n"
                                 "entries-per-entry-group-max=2000\n[publish]\npublish-workstation=no\n";

}  // namespace

class TestLan : public QObject, TDesktop
{
    Q_OBJECT

    const QString Namespace = QStringLiteral("tl-%1").arg(QCoreApplication::applicationPid());
    bool Created = false;
    QTemporaryDir Dir{QDir::tempPath() + "/tl-XXXXXX"};
    QProcess Bus, Avahi;
    TPlayer Alice{"Alice"}, Bob{"Bob"};

    QStringList InNamespace(const QStringList& command = {}) const { return QStringList{"ip", "netns", "exec", Namespace} + command; }
    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = Display.Environment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + Dir.filePath("bus"));
        return env;
    }

    // The daemon's pid file and sockets go to a /run of its own; the same pid is killed as a crash.
    bool StartDaemon()
    {
        Avahi.setProcessEnvironment(Environment());
        Avahi.setProcessChannelMode(QProcess::MergedChannels);
        Avahi.start("ip", InNamespace({"unshare", "-m", "sh", "-c", "mount -t tmpfs tl-run /run && exec avahi-daemon "
                                       "--no-drop-root --no-chroot -f " + Dir.filePath("avahi.conf")}).mid(1));
        QByteArray log;
        return QTest::qWaitFor([&] { return (log += Avahi.readAll()).contains("Server startup complete"); }, kStep);
    }

public:
    ~TestLan() override
    {
        for (QProcess* process : {&Alice.Process, &Bob.Process, &Avahi, &Bus}) {
            process->kill();
            process->waitForFinished();
        }
        if (Created)
            Run({"ip", "netns", "del", Namespace});
    }

private slots:
    void initTestCase()
    {
        QString error;
        if (!(Created = Run({"ip", "netns", "add", Namespace}, &error)))
            QSKIP(qPrintable("network namespaces are not allowed here: " + error.trimmed()));
        if (!Display.Start(&error))
            QSKIP(qPrintable("the test needs an X server: " + error));
        // A dummy link where the kernel has them, else the two ends of a virtual Ethernet pair.
        QVERIFY(Run(InNamespace({"ip", "link", "add", "tl0", "type", "dummy"}))
                || Run(InNamespace({"ip", "link", "add", "tl0", "type", "veth", "peer", "name", "tl1"})));
        Run(InNamespace({"ip", "link", "set", "tl1", "up"}));
        for (const QString step : {"link set lo up", "link set tl0 multicast on mtu 9000 up", "addr add 192.0.2.1/24 dev tl0"})
            QVERIFY2(Run(InNamespace(QStringList{"ip"} + step.split(' '))), qPrintable(step));
        QFile bus(Dir.filePath("bus.conf")), avahi(Dir.filePath("avahi.conf"));
        QVERIFY(bus.open(QIODevice::WriteOnly) && bus.write(QString(kBusConfig).arg(Dir.filePath("bus")).toUtf8()) > 0);
        QVERIFY(avahi.open(QIODevice::WriteOnly) && avahi.write(kAvahiConfig) > 0);
        bus.close(), avahi.close();
        Bus.start("ip", InNamespace({"dbus-daemon", "--nofork", "--config-file=" + bus.fileName()}).mid(1));
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(Dir.filePath("bus")); }, kStep));
        QVERIFY(StartDaemon());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", Environment().value("DBUS_SYSTEM_BUS_ADDRESS").toUtf8());
    }

    // What anyone on the network may announce: control characters in a name, a record of
    // another version, a TXT string without a value, a huge TXT record, a flood of games. The
    // list shows the names visibly, only games of this version, never more than its cap, and
    // never the game its own program announces (under another name, this one being taken).
    void hostileAnnouncements()
    {
        TServiceDiscovery publisher, browsing;
        QVERIFY(QTest::qWaitFor([&] { return publisher.Running() && browsing.Running(); }, kStep));
        TNetworkGamesDialog dialog(browsing);
        const auto publish = [&](const QList<QByteArray>& names, const QList<QByteArray>& txt) {
            AvahiEntryGroup* group = avahi_entry_group_new(publisher.Client(), [](AvahiEntryGroup*, AvahiEntryGroupState, void*) {}, nullptr);
            AvahiStringList* record = nullptr;
            for (const QByteArray& string : txt)
                record = avahi_string_list_add(record, string.constData());
            for (const QByteArray& name : names)
                QCOMPARE(avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, AvahiPublishFlags(0),
                                                              name.constData(), TServiceDiscovery::kServiceType, nullptr,
                                                              nullptr, 1, record), 0);
            avahi_string_list_free(record);
            QCOMPARE(avahi_entry_group_commit(group), 0);
        };
        publish({"Eve\a\n"}, {"v=1000"});
        publish({"Mallory"}, {"v=999"});
        publish({"Oscar"}, {"v"});
        publish({"Trent"}, QList<QByteArray>(30, QByteArray(250, 'x')) << "v=1000");
        // A name taken is announced under Avahi's alternative, and never listed where it is announced.
        browsing.ListeningChanged(4, "Mallory");
        QCOMPARE(browsing.AnnouncedName(), "Mallory #2");
        const auto names = [&] {
            QStringList shown;
            for (int row = 0; row < dialog.ListView1->topLevelItemCount(); ++row)
                shown << dialog.ListView1->topLevelItem(row)->text(0);
            return shown;
        };
        QTRY_COMPARE_WITH_TIMEOUT(names(), QStringList({"Eve\u2407\u240A", "Trent"}), kStep);
        QList<QByteArray> flood;
        for (int i = 0; i < 1000; ++i)
            flood << "Flood " + QByteArray::number(i);
        publish(flood, {"v=1000"});
        // Mallory and Oscar, kept so as not to be asked again, hold two of the places.
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), TGameBrowser::kMaxServices - 2, kStep);
        QTest::qWait(2000);
        QCOMPARE(names().size(), TGameBrowser::kMaxServices - 2);
    }

    // Alice listens and Bob's open dialog lists her; Stop listening takes her off it, a crash of
    // the daemon does not keep her off it; choosing her plays a game.
    void findAndPlay()
    {
        QVERIFY(StartPlayer(Alice, {0, 0}, InNamespace(), Environment()));
        QVERIFY(StartPlayer(Bob, {585, 0}, InNamespace(), Environment()));
        QVERIFY(LocateBoards({&Alice, &Bob}));
        UseMenu(Bob, "c p");
        const QString dialog = WaitForWindow("Parties du réseau", Bob);
        QVERIFY(!dialog.isEmpty());
        const auto shown = [&] { return Display.Screenshot(dialog); };
        QImage empty;  // once drawn: an unpainted window reads black
        QVERIFY(QTest::qWaitFor([&] { return (empty = shown()).pixel(1, 1) != qRgb(0, 0, 0); }, kStep));
        const QString port = QString::number(FreePort());
        QImage listed;
        for (int round = 0; round < 2; ++round) {
            UseMenu(Alice, "c e");
            QVERIFY(Answer("Ecoutez", Alice, port));
            QElapsedTimer listening;
            listening.start();
            QVERIFY(QTest::qWaitFor([&] { return (listed = shown()) != empty; }, kStep));
            qInfo("Alice listed %lld ms after she listened", qint64(listening.elapsed()));
            if (round == 0) {
                UseMenu(Alice, "c Return");
                QVERIFY(QTest::qWaitFor([&] { return shown() == empty; }, kStep));
            }
        }
        Avahi.kill();
        Avahi.waitForFinished();
        QVERIFY(StartDaemon());
        QVERIFY(QTest::qWaitFor([&] { return shown() == listed; }, kStep));
        Display.Focus(dialog);
        Display.Key("Return");
        QVERIFY(QTest::qWaitFor([&] { return Display.FindWindows("^Parties", Bob.Process.processId()).isEmpty(); }, kStep));
        // The one who connects opens the game.
        QVERIFY(QTest::qWaitFor([&] { return Display.Click(Bob.Cell(4, 1)), ShowsCells(Alice, {{4, 1, kRed}}); }, kStep));
        Display.Click(Alice.Cell(4, 2));
        QVERIFY(ShowsCells(Bob, {{4, 1, kYellow}, {4, 2, kRed}}));
    }
};

QTEST_MAIN(TestLan)
#include "test_lan.moc"
