#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>

enum TPacketKind : std::int32_t { pkMove = 0, pkBye = 1, pkNewGame = 2, pkChat = 3, pkName = 4 };

// One message between the two instances. Text is held as QString and travels as Windows-1252.
struct TDataPacket
{
    std::int32_t Reserved = 0;
    std::int32_t Kind = 0;
    std::int32_t Socket = 0;
    QString Text;
    std::int32_t Column = 0;

    bool operator==(const TDataPacket&) const = default;
};

inline constexpr char kPacketMagic[] = "TSRO1000";

// The complete bytes of one packet, Reserved and Socket written as 0.
QByteArray EncodePacket(const TDataPacket& packet);

// True unless the bytes are exactly "TSRO1000".
bool MagicMismatch(QByteArrayView text);

// Turns the byte stream of one connection back into packets. Bytes of a packet that has not
// fully arrived are kept for the next Append, so the stream decodes the same whatever pieces
// it arrives in. A flaw (wrong tag, wrong magic, bad string length) drops everything received
// so far from the flaw on. Next() may be called again from inside the handling of a packet it
// returned (a modal box's nested loop): packets still come out once each, in stream order.
class TPacketDecoder
{
public:
    // A declared string longer than this is a flaw: a peer cannot make us wait for or reserve more.
    static constexpr qsizetype kMaxStringLength = 1024 * 1024;

    void Append(QByteArrayView bytes);
    std::optional<TDataPacket> Next();
    void Clear();
    qsizetype Pending() const;  // bytes received and not yet consumed

private:
    bool ConsumeEndTag();
    void Compact();

    QByteArray Buffer;
    qsizetype Pos = 0;
    qsizetype NeedUntil = 0;     // an incomplete packet cannot decode before Buffer reaches this size
    bool AwaitingEndTag = false; // the last packet was handed out before its end tag was checked
};
