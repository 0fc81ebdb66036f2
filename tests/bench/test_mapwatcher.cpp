#include "bench/MapWatcher.h"
#include "e2e/VirtualDisplay.h"

#include <QProcess>
#include <QTest>

#include <memory>

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kAppears{20'000};
constexpr milliseconds kDoesNotAppear{1'500};

}  // namespace

// The window timing of the start-up benchmark, against the real program on a private X server.
class TestMapWatcher : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void promptThenMainWindow();
    void titleMatchesWhole_data();
    void titleMatchesWhole();
    void drainForgetsEarlierMaps_data();
    void drainForgetsEarlierMaps();

private:
    void Launch();
    bool PromptVisible() const;

    TVirtualDisplay Display;
    TMapWatcher Watcher;
    std::unique_ptr<QProcess> Program;
};

void TestMapWatcher::initTestCase()
{
    QString problem;
    if (!TVirtualDisplay::ToolsAvailable(&problem))
        QSKIP(qPrintable(problem + QStringLiteral(" is not installed")));
    if (!Display.Start(&problem))
        QSKIP(qPrintable(problem));
    QVERIFY(Watcher.Connect(Display.Name()));
}

void TestMapWatcher::cleanup()
{
    if (Program) {
        Program->kill();
        Program->waitForFinished(10000);
        Program.reset();
    }
}

void TestMapWatcher::Launch()
{
    Program = std::make_unique<QProcess>();
    Program->setProcessEnvironment(Display.Environment());
    Program->setProcessChannelMode(QProcess::ForwardedChannels);
    Program->start(QStringLiteral(TESSARO_PROGRAM), {});
    QVERIFY(Program->waitForStarted(10000));
}

bool TestMapWatcher::PromptVisible() const
{
    return !Display.FindWindows(QStringLiteral("^Nom$"), Program->processId()).isEmpty();
}

void TestMapWatcher::promptThenMainWindow()
{
    Watcher.Drain();
    const TClock::time_point launched = TClock::now();
    Launch();
    const std::optional<TMappedWindow> prompt = Watcher.WaitForMapped(QStringLiteral("Nom"), kAppears);
    QVERIFY(prompt);
    QVERIFY(prompt->At > launched);
    QCOMPARE(Display.FindWindows(QStringLiteral("^Nom$"), Program->processId()),
             QStringList{QString::number(prompt->Window)});

    // The main window is built but not shown until the prompt is answered.
    QVERIFY(!Watcher.WaitForMapped(QStringLiteral("Tessaro"), kDoesNotAppear));
    Display.Focus(QString::number(prompt->Window));
    Display.Type(QStringLiteral("Banc"));
    Display.Key(QStringLiteral("Return"));
    const std::optional<TMappedWindow> window = Watcher.WaitForMapped(QStringLiteral("Tessaro"), kAppears);
    QVERIFY(window);
    QVERIFY(window->Window != prompt->Window);
    QVERIFY(window->At > prompt->At);
}

// The prompt's WM_NAME is "Nom"; its _NET_WM_NAME carries the application's name as well.
void TestMapWatcher::titleMatchesWhole_data()
{
    QTest::addColumn<QString>("title");
    QTest::newRow("/title/prefix") << QStringLiteral("No");
    QTest::newRow("/title/other-case") << QStringLiteral("nom");
    QTest::newRow("/title/with-application-name") << QStringLiteral("Nom — Tessaro");
    QTest::newRow("/title/empty") << QString();
}

void TestMapWatcher::titleMatchesWhole()
{
    QFETCH(QString, title);
    Watcher.Drain();
    Launch();
    QVERIFY(!Watcher.WaitForMapped(title, milliseconds(3000)));
    QVERIFY(PromptVisible());
}

void TestMapWatcher::drainForgetsEarlierMaps_data()
{
    QTest::addColumn<bool>("drain");
    QTest::newRow("/drain/kept") << false;
    QTest::newRow("/drain/forgotten") << true;
}

void TestMapWatcher::drainForgetsEarlierMaps()
{
    QFETCH(bool, drain);
    Watcher.Drain();
    Launch();
    QTRY_VERIFY_WITH_TIMEOUT(PromptVisible(), int(kAppears.count()));
    if (drain)
        Watcher.Drain();
    QCOMPARE(Watcher.WaitForMapped(QStringLiteral("Nom"), milliseconds(500)).has_value(), !drain);
}

QTEST_GUILESS_MAIN(TestMapWatcher)
#include "test_mapwatcher.moc"
