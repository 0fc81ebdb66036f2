#include "StartupRig.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {

constexpr int kDefaultRuns = 5;
// The verdict texts below say so too.
constexpr double kStartupRatioTarget = 1.3;
constexpr double kMemoryRatioTarget = 1.2;

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

using TField = std::function<double(const TRunFigures&)>;

// The medians of one figure over the runs of both programs.
struct TPair
{
    double Ours = 0;
    double Minimal = 0;
};

// One target of the issue, its median figure and the verdict; a slow machine gets ABOVE, not a failure.
void Verdict(const char* target, const QString& figure, bool met)
{
    std::printf("target: %-48s %-34s %s\n", target, qPrintable(figure), met ? "PASS" : "ABOVE");
}

class TReport
{
public:
    TReport(const std::vector<TRunFigures>& ours, const std::vector<TRunFigures>& minimal)
        : Ours(ours)
        , Minimal(minimal)
    {
    }

    void Print() const
    {
        const TPair startup = Medians([](const TRunFigures& r) { return r.StartupMs; });
        const TPair memory = Medians([](const TRunFigures& r) { return r.RssMb; });
        const TPair background = Medians([](const TRunFigures& r) { return r.Background.StatMs; });
        const TPair active = Medians([](const TRunFigures& r) { return r.Active.StatMs; });

        std::printf("\n%-40s %9s %9s %7s\n", "median", "tessaro", "minimal", "ratio");
        std::printf("%-40s %9.1f %9.1f %6.2fx\n", "exec to name prompt mapped (ms)", startup.Ours, startup.Minimal,
                    startup.Ours / startup.Minimal);
        std::printf("%-40s %9.1f %9.1f %6.2fx\n", "resident memory 3 s after window (MB)", memory.Ours,
                    memory.Minimal, memory.Ours / memory.Minimal);
        IdleRows("in the background", &TRunFigures::Background);
        IdleRows("as the active window", &TRunFigures::Active);
        std::printf("tessaro idles listening with a peer connected; the minimal window has no socket.\n\n");

        RatioVerdict("start-up within 1.3x of a minimal Qt window", startup, kStartupRatioTarget, QStringLiteral("ms"));
        RatioVerdict("memory within 1.2x of a minimal Qt window", memory, kMemoryRatioTarget, QStringLiteral("MB"));
        IdleVerdict("no CPU at all while idle in the background", background);
        IdleVerdict("no CPU at all while idle as the active window", active);
    }

private:
    TPair Medians(const TField& field) const { return {MedianOf(Ours, field), MedianOf(Minimal, field)}; }

    static double MedianOf(const std::vector<TRunFigures>& runs, const TField& field)
    {
        std::vector<double> values;
        for (const TRunFigures& run : runs)
            values.push_back(field(run));
        return Median(values);
    }

    void IdleRows(const char* phase, TCpuSample TRunFigures::*sample) const
    {
        const TPair stat = Medians([sample](const TRunFigures& r) { return (r.*sample).StatMs; });
        const TPair sched = Medians([sample](const TRunFigures& r) { return (r.*sample).SchedMs; });
        const TPair slices = Medians([sample](const TRunFigures& r) { return double((r.*sample).Slices); });
        std::printf("idle 10 s %s:\n", phase);
        std::printf("%-40s %9.0f %9.0f\n", "  CPU, utime+stime (ms)", stat.Ours, stat.Minimal);
        std::printf("%-40s %9.2f %9.2f\n", "  CPU, scheduler clock (ms)", sched.Ours, sched.Minimal);
        std::printf("%-40s %9.0f %9.0f\n", "  times a thread was woken", slices.Ours, slices.Minimal);
    }

    static void RatioVerdict(const char* target, TPair medians, double ratioTarget, const QString& unit)
    {
        const double ratio = medians.Ours / medians.Minimal;
        Verdict(target, QStringLiteral("%1x (%2 %4 against %3 %4)")
                            .arg(ratio, 0, 'f', 2)
                            .arg(medians.Ours, 0, 'f', 1)
                            .arg(medians.Minimal, 0, 'f', 1)
                            .arg(unit),
                ratio <= ratioTarget);
    }

    static void IdleVerdict(const char* target, TPair cpu)
    {
        Verdict(target, QStringLiteral("%1 ms in 10 s (minimal: %2 ms)").arg(cpu.Ours).arg(cpu.Minimal),
                cpu.Ours == 0);
    }

    const std::vector<TRunFigures>& Ours;
    const std::vector<TRunFigures>& Minimal;
};

void PrintRun(int number, const TRunFigures& ours, const TRunFigures& minimal)
{
    const auto line = [](const char* name, const TRunFigures& r) {
        std::printf("  %-8s %6.1f ms %5.1f MB  idle %5.2f ms in background, %5.2f ms active\n", name, r.StartupMs,
                    r.RssMb, r.Background.SchedMs, r.Active.SchedMs);
    };
    std::printf("run %d\n", number);
    line("tessaro", ours);
    line("minimal", minimal);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultRuns;
    const QString tessaro = QStringLiteral(TESSARO_PROGRAM);
    const QString minimal = QStringLiteral(MINIMAL_WINDOW_PROGRAM);

    TStartupRig rig;
    if (!rig.Start()) {
        std::printf("start-up benchmark skipped: %s\n", qPrintable(rig.Problem()));
        return 0;
    }
    std::printf("Start-up, memory and idle CPU on a private Xvfb (%s), %d runs of each program, interleaved\n",
                qPrintable(rig.DisplayName()), runs);
    std::fflush(stdout);
    if (!rig.WarmUp(tessaro) || !rig.WarmUp(minimal))
        return 1;

    std::vector<TRunFigures> ours;
    std::vector<TRunFigures> yardstick;
    for (int run = 1; run <= runs; ++run) {
        const std::optional<TRunFigures> a = rig.Measure(tessaro, true);
        const std::optional<TRunFigures> b = rig.Measure(minimal, false);
        if (!a || !b)
            return 1;
        ours.push_back(*a);
        yardstick.push_back(*b);
        PrintRun(run, *a, *b);
    }
    TReport(ours, yardstick).Print();
    return 0;
}
