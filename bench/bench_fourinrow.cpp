#include "game/Board.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

constexpr int kCalls = 500'000;
constexpr int kRounds = 5;

volatile long long gSink = 0;  // keeps the scans from being optimised away

// Best of a few rounds: the least disturbed figure is the one worth comparing.
template <typename Scan>
double NsPerCall(Scan scan)
{
    double best = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        long long found = 0;
        for (int i = 0; i < kCalls; ++i)
            found += scan();
        const std::chrono::duration<double, std::nano> elapsed =
            std::chrono::steady_clock::now() - start;
        gSink = gSink + found;
        best = std::min(best, elapsed.count() / kCalls);
    }
    return best;
}

void Report(const char* name, const TBoard& board, std::int32_t value)
{
    long long lines = 0;
    const TBoard::WinLineSink count = [&lines](int, int, int, int) { ++lines; };
    const double bare = NsPerCall([&] { return board.HasFourInRow(value); });
    const double marked = NsPerCall([&] { return board.HasFourInRow(value, count); });
    std::printf("%-34s %8.1f ns/call without sink %8.1f ns/call with sink (%lld lines/call)\n",
                name, bare, marked, lines / (static_cast<long long>(kCalls) * kRounds));
    gSink = gSink + lines;
}

}  // namespace

int main()
{
    std::printf("HasFourInRow on a full board, %d calls, best of %d rounds\n", kCalls, kRounds);

    const TBoard drawn = TBoard::FromMoves("335436335145221263644662511546412177257777");
    Report("drawn game, value 1", drawn, cvLocal);
    Report("drawn game, value 2", drawn, cvRemote);

    TBoard oneColour;
    for (int col = 1; col <= kColumns; ++col)
        for (int row = 1; row <= kRows; ++row)
            oneColour.SetCell(col, row, cvLocal);
    Report("one colour, every window a line", oneColour, cvLocal);
    return 0;
}
