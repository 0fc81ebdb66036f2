#pragma once

#include "net/DataPacket.h"

#include <QByteArray>
#include <QList>
#include <QRandomGenerator>
#include <QString>


// Packets and streams shared by the codec's tests, benchmark and fuzz corpus.
namespace PacketSamples {

inline TDataPacket MakePacket(std::int32_t kind, const QString& text = {}, std::int32_t column = 0)
{
    TDataPacket packet;
    packet.Kind = kind;
    packet.Text = text;
    packet.Column = column;
    return packet;
}

// Text of the given length drawn from letters that Windows-1252 holds, accents included,
// so that a decoded packet compares equal to the one encoded.
inline QString SampleText(QRandomGenerator& random, qsizetype length)
{
    static const QString alphabet = QStringLiteral("abcdefghijklmnopqrstuvwxyz ABCXYZ0123456789:!?éàûçœ€«»");
    QString text;
    text.reserve(length);
    for (qsizetype i = 0; i < length; ++i)
        text.append(alphabet[random.bounded(int(alphabet.size()))]);
    return text;
}

// The mix of one lively connection: mostly moves, chats up to maxChat bytes, now and then a
// name, a new game, a farewell or a kind this program does not know.
inline TDataPacket SamplePacket(QRandomGenerator& random, int maxChat)
{
    switch (random.bounded(10)) {
    case 0: return MakePacket(pkName, SampleText(random, random.bounded(1, 20)));
    case 1: return MakePacket(pkNewGame);
    case 2: return MakePacket(pkBye);
    case 3: return MakePacket(random.bounded(5, 300));
    case 4:
    case 5: return MakePacket(pkChat, SampleText(random, random.bounded(maxChat + 1)));
    default: return MakePacket(pkMove, {}, random.bounded(1, 8));
    }
}

inline QList<TDataPacket> SamplePackets(quint32 seed, int count, int maxChat)
{
    QRandomGenerator random(seed);
    QList<TDataPacket> packets;
    packets.reserve(count);
    for (int i = 0; i < count; ++i)
        packets.append(SamplePacket(random, maxChat));
    return packets;
}

inline QByteArray EncodeAll(const QList<TDataPacket>& packets)
{
    QByteArray stream;
    for (const TDataPacket& packet : packets)
        stream.append(EncodePacket(packet));
    return stream;
}

} // namespace PacketSamples
