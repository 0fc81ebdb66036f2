#include "StartupRig.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {

constexpr int kDefaultRuns = 5;
constexpr double kRatioTarget = 1.5;

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
        std::printf("\n%-40s %9s %9s %7s   %-9s\n", "median", "tessaro", "minimal", "ratio", "target");
        RatioRow("exec to name prompt mapped (ms)", Medians([](const TRunFigures& r) { return r.StartupMs; }));
        RatioRow("resident memory 3 s after window (MB)", Medians([](const TRunFigures& r) { return r.RssMb; }));
        IdleRows("in the background", &TRunFigures::Background);
        IdleRows("as the active window", &TRunFigures::Active);
        std::printf("tessaro idles listening with a peer connected; the minimal window has no socket.\n");
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

    static void RatioRow(const char* label, TPair medians)
    {
        const double ratio = medians.Ours / medians.Minimal;
        std::printf("%-40s %9.1f %9.1f %6.2fx   <= %.1fx    %s\n", label, medians.Ours, medians.Minimal, ratio,
                    kRatioTarget, ratio <= kRatioTarget ? "PASS" : "ABOVE");
    }

    void IdleRows(const char* phase, TCpuSample TRunFigures::*sample) const
    {
        const TPair stat = Medians([sample](const TRunFigures& r) { return (r.*sample).StatMs; });
        const TPair sched = Medians([sample](const TRunFigures& r) { return (r.*sample).SchedMs; });
        const TPair slices = Medians([sample](const TRunFigures& r) { return double((r.*sample).Slices); });
        std::printf("idle 10 s %s:\n", phase);
        std::printf("%-40s %9.0f %9.0f %7s   0 ms       %s\n", "  CPU, utime+stime (ms)", stat.Ours, stat.Minimal, "",
                    stat.Ours == 0 ? "PASS" : "ABOVE");
        std::printf("%-40s %9.2f %9.2f\n", "  CPU, scheduler clock (ms)", sched.Ours, sched.Minimal);
        std::printf("%-40s %9.0f %9.0f\n", "  times a thread was woken", slices.Ours, slices.Minimal);
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
