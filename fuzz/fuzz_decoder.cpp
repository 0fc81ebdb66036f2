#include "net/DataPacket.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

QList<TDataPacket> Decode(QByteArrayView stream, qsizetype pieceSize, qsizetype* pendingAtEnd = nullptr)
{
    TPacketDecoder decoder;
    QList<TDataPacket> packets;
    for (qsizetype pos = 0; pos < stream.size(); pos += pieceSize) {
        decoder.Append(stream.sliced(pos, std::min(pieceSize, stream.size() - pos)));
        while (std::optional<TDataPacket> packet = decoder.Next())
            packets.append(*packet);
        Require(decoder.Pending() >= 0 && decoder.Pending() <= pos + pieceSize);
    }
    if (pendingAtEnd)
        *pendingAtEnd = decoder.Pending();
    return packets;
}

// What the encoder makes of a packet must decode, whole and byte by byte, to that packet.
void CheckReencodes(TDataPacket packet)
{
    Require(packet.Text.size() <= TPacketDecoder::kMaxStringLength);
    packet.Reserved = 0;
    packet.Socket = 0;
    const QByteArray bytes = EncodePacket(packet);
    qsizetype pending = -1;
    Require(Decode(bytes, bytes.size(), &pending) == QList<TDataPacket>{packet});
    Require(pending == 0);
    Require(Decode(bytes, 1) == QList<TDataPacket>{packet});
}

} // namespace

// The first byte picks the piece size the rest of the input arrives in (0: all at once).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    if (stream.isEmpty())
        return 0;
    const qsizetype pieceSize = data[0] == 0 ? stream.size() : data[0];

    const QList<TDataPacket> inPieces = Decode(stream, pieceSize);
    for (const TDataPacket& packet : inPieces)
        CheckReencodes(packet);

    // Up to the first flaw the split cannot matter; without a flaw it cannot matter at all
    // (a flaw empties the decoder, so bytes still pending at the end mean there was none).
    qsizetype pending = 0;
    const QList<TDataPacket> whole = Decode(stream, stream.size(), &pending);
    Require(inPieces.size() >= whole.size() && std::equal(whole.begin(), whole.end(), inPieces.begin()));
    if (pending > 0)
        Require(inPieces == whole);
    return 0;
}
