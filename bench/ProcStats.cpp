#include "ProcStats.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace {

constexpr qsizetype kUtimeField = 11;  // counted from the state, the field after the name
constexpr qsizetype kStimeField = 12;

QByteArray ReadProcFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<long long> WholeNumber(const QByteArray& text)
{
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    return ok ? std::optional<long long>(value) : std::nullopt;
}

// The fields after the command name, which may hold spaces and parentheses itself:
// only the last ')' of the line closes it.
QList<QByteArray> FieldsAfterName(QByteArrayView stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.sliced(close + 1).trimmed().toByteArray().split(' ');
}

}  // namespace

TCpuSample TCpuSample::operator-(const TCpuSample& earlier) const
{
    return {StatMs - earlier.StatMs, SchedMs - earlier.SchedMs, Slices - earlier.Slices};
}

std::optional<double> ParseStatCpuMs(QByteArrayView stat, long ticksPerSecond)
{
    const QList<QByteArray> fields = FieldsAfterName(stat);
    if (fields.size() <= kStimeField || fields[0] == "Z" || fields[0] == "X" || ticksPerSecond <= 0)
        return std::nullopt;
    const std::optional<long long> utime = WholeNumber(fields[kUtimeField]);
    const std::optional<long long> stime = WholeNumber(fields[kStimeField]);
    if (!utime || !stime)
        return std::nullopt;
    return double(*utime + *stime) * 1000.0 / double(ticksPerSecond);
}

std::optional<double> ParseRssMb(QByteArrayView status)
{
    for (const QByteArray& line : status.toByteArray().split('\n')) {
        if (!line.startsWith("VmRSS:"))
            continue;
        const QList<QByteArray> words = line.mid(6).simplified().split(' ');
        const std::optional<long long> kilobytes = WholeNumber(words.value(0));
        if (!kilobytes || words.value(1) != "kB")
            return std::nullopt;
        return double(*kilobytes) / 1024.0;
    }
    return std::nullopt;
}

std::optional<TCpuSample> ParseSchedStat(QByteArrayView schedstat)
{
    const QList<QByteArray> fields = schedstat.trimmed().toByteArray().split(' ');
    const std::optional<long long> onCpuNs = WholeNumber(fields.value(0));
    const std::optional<long long> slices = WholeNumber(fields.value(2));
    if (fields.size() != 3 || !onCpuNs || !slices)
        return std::nullopt;
    return TCpuSample{0, double(*onCpuNs) / 1e6, *slices};
}

std::optional<TCpuSample> ReadCpu(qint64 pid)
{
    const std::optional<double> statMs =
        ParseStatCpuMs(ReadProcFile(QStringLiteral("/proc/%1/stat").arg(pid)), sysconf(_SC_CLK_TCK));
    if (!statMs)
        return std::nullopt;
    TCpuSample sample{*statMs, 0, 0};
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        // A thread may end between the listing and the read; it no longer counts then.
        if (const auto thread = ParseSchedStat(ReadProcFile(tasks.filePath(task) + QStringLiteral("/schedstat")))) {
            sample.SchedMs += thread->SchedMs;
            sample.Slices += thread->Slices;
        }
    }
    return sample;
}

std::optional<double> ReadRssMb(qint64 pid)
{
    return ParseRssMb(ReadProcFile(QStringLiteral("/proc/%1/status").arg(pid)));
}
