#include "bench/ProcStats.h"

#include <QTest>

#include <cstring>
#include <ctime>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// utime 150 and stime 50 ticks, after a state and ten other fields.
constexpr char kStatTail[] = " S 1 4242 4242 0 -1 4194560 1234 0 0 0 150 50 0 0 20 0 3 0 123456 250000000 8000";

double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

volatile unsigned gSpin = 0;

void BurnCpu(double ms)
{
    const double until = ThreadCpuMs() + ms;
    while (ThreadCpuMs() < until)
        for (int i = 0; i < 10000; ++i)
            gSpin = gSpin + 1;
}

}  // namespace

class TestProcStats : public QObject
{
    Q_OBJECT

private slots:
    void parseStatCpu_data();
    void parseStatCpu();
    void parseRss_data();
    void parseRss();
    void parseSchedStat_data();
    void parseSchedStat();
    void cpuOfThisProcessGrowsWithWork();
    void rssOfThisProcessGrowsWithTouchedMemory();
    void endedProcessHasNoFigures();
};

void TestProcStats::parseStatCpu_data()
{
    QTest::addColumn<QByteArray>("stat");
    QTest::addColumn<int>("ticksPerSecond");
    QTest::addColumn<double>("ms");  // negative: no figure

    const QByteArray tail(kStatTail);
    QTest::newRow("/stat/plain") << "4242 (tessaro)" + tail << 100 << 2000.0;
    QTest::newRow("/stat/name-with-spaces-and-parens") << "4242 (a) (b c))" + tail << 100 << 2000.0;
    QTest::newRow("/stat/250-hz") << "4242 (tessaro)" + tail << 250 << 800.0;
    QTest::newRow("/stat/zombie") << "4242 (tessaro) Z" + tail.mid(2) << 100 << -1.0;
    QTest::newRow("/stat/cut-before-stime") << QByteArray("4242 (tessaro) S 1 4242 4242 0 -1 4194560 1234 0 0 0 150") << 100
                                            << -1.0;
    QTest::newRow("/stat/utime-not-a-number") << QByteArray("4242 (tessaro) S 1 4242 4242 0 -1 4194560 1234 0 0 0 x 50 0")
                                              << 100 << -1.0;
    QTest::newRow("/stat/no-name") << "4242 tessaro" + tail << 100 << -1.0;
    QTest::newRow("/stat/empty") << QByteArray() << 100 << -1.0;
    QTest::newRow("/stat/no-tick-rate") << "4242 (tessaro)" + tail << 0 << -1.0;
}

void TestProcStats::parseStatCpu()
{
    QFETCH(QByteArray, stat);
    QFETCH(int, ticksPerSecond);
    QFETCH(double, ms);
    const std::optional<double> parsed = ParseStatCpuMs(stat, ticksPerSecond);
    QCOMPARE(parsed.has_value(), ms >= 0);
    if (parsed)
        QCOMPARE(*parsed, ms);
}

void TestProcStats::parseRss_data()
{
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<double>("mb");  // negative: no figure

    QTest::newRow("/status/usual") << QByteArray("Name:\ttessaro\nVmPeak:\t  300000 kB\nVmRSS:\t   33792 kB\nRssAnon:\t 9000 kB\n")
                                   << 33.0;
    QTest::newRow("/status/last-line-no-newline") << QByteArray("Name:\ttessaro\nVmRSS:\t 1024 kB") << 1.0;
    QTest::newRow("/status/kernel-thread") << QByteArray("Name:\tkthreadd\nState:\tS (sleeping)\n") << -1.0;
    QTest::newRow("/status/no-unit") << QByteArray("VmRSS:\t 1024\n") << -1.0;
    QTest::newRow("/status/pages-not-kb") << QByteArray("VmRSS:\t 1024 pages\n") << -1.0;
    QTest::newRow("/status/not-a-number") << QByteArray("VmRSS:\t lots kB\n") << -1.0;
    QTest::newRow("/status/similar-key") << QByteArray("VmRSSMax:\t 1024 kB\n") << -1.0;
}

void TestProcStats::parseRss()
{
    QFETCH(QByteArray, status);
    QFETCH(double, mb);
    const std::optional<double> parsed = ParseRssMb(status);
    QCOMPARE(parsed.has_value(), mb >= 0);
    if (parsed)
        QCOMPARE(*parsed, mb);
}

void TestProcStats::parseSchedStat_data()
{
    QTest::addColumn<QByteArray>("schedstat");
    QTest::addColumn<double>("ms");  // negative: no figure
    QTest::addColumn<qlonglong>("slices");

    QTest::newRow("/schedstat/usual") << QByteArray("123456789 2000 17\n") << 123.456789 << 17LL;
    QTest::newRow("/schedstat/never-ran") << QByteArray("0 0 0\n") << 0.0 << 0LL;
    QTest::newRow("/schedstat/two-fields") << QByteArray("123456789 2000\n") << -1.0 << 0LL;
    QTest::newRow("/schedstat/four-fields") << QByteArray("1 2 3 4\n") << -1.0 << 0LL;
    QTest::newRow("/schedstat/empty") << QByteArray() << -1.0 << 0LL;
}

void TestProcStats::parseSchedStat()
{
    QFETCH(QByteArray, schedstat);
    QFETCH(double, ms);
    QFETCH(qlonglong, slices);
    const std::optional<TCpuSample> parsed = ParseSchedStat(schedstat);
    QCOMPARE(parsed.has_value(), ms >= 0);
    if (parsed) {
        QCOMPARE(parsed->SchedMs, ms);
        QCOMPARE(parsed->Slices, slices);
    }
}

// The figures must follow work done, in milliseconds: a unit or field mix-up shows here.
void TestProcStats::cpuOfThisProcessGrowsWithWork()
{
    const std::optional<TCpuSample> before = ReadCpu(getpid());
    QVERIFY(before);
    BurnCpu(200);
    const std::optional<TCpuSample> after = ReadCpu(getpid());
    QVERIFY(after);
    const TCpuSample used = *after - *before;
    QVERIFY2(used.SchedMs >= 195 && used.SchedMs < 2000, qPrintable(QString::number(used.SchedMs)));
    // Whole ticks, charged by sampling: allow a few ticks either way.
    QVERIFY2(used.StatMs >= 150 && used.StatMs < 2000, qPrintable(QString::number(used.StatMs)));
    QVERIFY(used.Slices >= 1);
}

void TestProcStats::rssOfThisProcessGrowsWithTouchedMemory()
{
    constexpr std::size_t kBytes = 64u << 20;
    const std::optional<double> before = ReadRssMb(getpid());
    QVERIFY(before);
    const std::unique_ptr<char[]> block(new char[kBytes]);
    std::memset(block.get(), 1, kBytes);
    const std::optional<double> after = ReadRssMb(getpid());
    QVERIFY(after);
    const double grown = *after - *before;
    QVERIFY2(grown >= 60 && grown < 80, qPrintable(QString::number(grown)));
    QCOMPARE(block[kBytes - 1], char(1));
}

// A child that has exited but is not yet reaped still has a /proc entry; it must not read as
// a process that sits idle using nothing.
void TestProcStats::endedProcessHasNoFigures()
{
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0)
        _exit(0);
    siginfo_t info{};
    QCOMPARE(waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT), 0);
    QVERIFY(!ReadCpu(child));

    QCOMPARE(waitpid(child, nullptr, 0), child);
    QVERIFY(!ReadCpu(child));
    QVERIFY(!ReadRssMb(child));
}

QTEST_GUILESS_MAIN(TestProcStats)
#include "test_procstats.moc"
