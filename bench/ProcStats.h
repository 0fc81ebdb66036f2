#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// What the kernel counts for a running process, read from /proc.
struct TCpuSample
{
    double StatMs = 0;     // utime + stime, in whole clock ticks
    double SchedMs = 0;    // the scheduler's own clock, to the nanosecond
    long long Slices = 0;  // times a thread of the process was put on a CPU

    TCpuSample operator-(const TCpuSample& earlier) const;
};

// All threads of the process. Nothing once it has ended, even as a zombie, so a program that
// died is never mistaken for an idle one.
std::optional<TCpuSample> ReadCpu(qint64 pid);
std::optional<double> ReadRssMb(qint64 pid);

// The parsers behind them, on the text of /proc/PID/stat, /proc/PID/status and a
// /proc/PID/task/TID/schedstat.
std::optional<double> ParseStatCpuMs(QByteArrayView stat, long ticksPerSecond);
std::optional<double> ParseRssMb(QByteArrayView status);
std::optional<TCpuSample> ParseSchedStat(QByteArrayView schedstat);
