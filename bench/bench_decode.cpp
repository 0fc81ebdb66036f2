#include "net/DataPacket.h"
#include "net/PacketSamples.h"

#include <QElapsedTimer>

#include <cstdio>

using namespace PacketSamples;

namespace {

struct TDecodeRun
{
    qint64 Packets = 0;
    qint64 Checksum = 0; // keeps the decoded fields alive
    double Seconds = 0;
};

TDecodeRun Decode(const QByteArray& stream, qsizetype pieceSize)
{
    TDecodeRun run;
    TPacketDecoder decoder;
    QElapsedTimer timer;
    timer.start();
    for (qsizetype pos = 0; pos < stream.size(); pos += pieceSize) {
        decoder.Append(QByteArrayView(stream).sliced(pos, std::min(pieceSize, stream.size() - pos)));
        while (std::optional<TDataPacket> packet = decoder.Next()) {
            ++run.Packets;
            run.Checksum += packet->Kind + packet->Column + packet->Text.size();
        }
    }
    run.Seconds = timer.nsecsElapsed() / 1e9;
    return run;
}

TDecodeRun Best(const QByteArray& stream, qsizetype pieceSize, int rounds)
{
    TDecodeRun best = Decode(stream, pieceSize);
    for (int i = 1; i < rounds; ++i) {
        const TDecodeRun run = Decode(stream, pieceSize);
        if (run.Seconds < best.Seconds)
            best = run;
    }
    return best;
}

void Report(const char* label, const TDecodeRun& run, qsizetype bytes)
{
    std::printf("%-28s %9lld packets  %8.3f s  %12.0f packets/s  %8.1f MB/s\n", label,
                static_cast<long long>(run.Packets), run.Seconds, run.Packets / run.Seconds,
                bytes / run.Seconds / 1e6);
}

} // namespace

int main()
{
    QList<TDataPacket> packets;
    QByteArray stream;
    for (quint32 seed = 1; stream.size() < 10'000'000; ++seed) {
        const QList<TDataPacket> more = SamplePackets(seed, 1000, 4096);
        packets.append(more);
        stream.append(EncodeAll(more));
    }
    std::printf("mixed stream: %lld packets, %.1f MB\n", static_cast<long long>(packets.size()), stream.size() / 1e6);

    const TDecodeRun whole = Best(stream, stream.size(), 3);
    const TDecodeRun bytewise = Best(stream, 1, 3);
    Report("delivered whole", whole, stream.size());
    Report("delivered 1 byte at a time", bytewise, stream.size());
    std::printf("1-byte pieces take %.2f times as long as whole\n", bytewise.Seconds / whole.Seconds);
    if (whole.Packets != packets.size() || bytewise.Packets != packets.size() || whole.Checksum != bytewise.Checksum)
        std::printf("MISMATCH: the two deliveries decoded different packets\n");

    const QByteArray bigChat = EncodePacket(MakePacket(pkChat, QString(64 * 1024, u'a')));
    const TDecodeRun chatWhole = Best(bigChat, bigChat.size(), 20);
    const TDecodeRun chatBytewise = Best(bigChat, 1, 20);
    std::printf("64 KiB chat packet: whole %.1f us, 1 byte at a time %.1f us (%.1f ns per byte)\n",
                chatWhole.Seconds * 1e6, chatBytewise.Seconds * 1e6, chatBytewise.Seconds * 1e9 / bigChat.size());
    return 0;
}
