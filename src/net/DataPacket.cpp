#include "net/DataPacket.h"

#include "net/Win1252.h"

#include <QtEndian>

#include <limits>

namespace {

enum TValueTag : std::uint8_t {
    tagEndOfList = 0x00,
    tagList = 0x01,
    tagInt8 = 0x02,
    tagInt16 = 0x03,
    tagInt32 = 0x04,
    tagShortString = 0x06,
    tagLongString = 0x0C,
};

const QByteArrayView kMagic(kPacketMagic, sizeof(kPacketMagic) - 1);
constexpr qsizetype kShortStringMax = 255;

// Consumed bytes are dropped once they are this many and at least half the buffer, so
// moving the unconsumed rest costs less than the bytes consumed since the last time.
constexpr qsizetype kCompactThreshold = 4096;

void WriteTag(QByteArray& out, TValueTag tag)
{
    out.append(static_cast<char>(tag));
}

template <typename T>
void WriteLittleEndian(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T>
bool Fits(std::int32_t value)
{
    return value >= std::numeric_limits<T>::min() && value <= std::numeric_limits<T>::max();
}

void WriteInteger(QByteArray& out, std::int32_t value)
{
    if (Fits<std::int8_t>(value)) {
        WriteTag(out, tagInt8);
        out.append(static_cast<char>(value));
    } else if (Fits<std::int16_t>(value)) {
        WriteTag(out, tagInt16);
        WriteLittleEndian(out, static_cast<std::int16_t>(value));
    } else {
        WriteTag(out, tagInt32);
        WriteLittleEndian(out, value);
    }
}

void WriteString(QByteArray& out, QByteArrayView bytes)
{
    if (bytes.size() <= kShortStringMax) {
        WriteTag(out, tagShortString);
        out.append(static_cast<char>(bytes.size()));
    } else {
        WriteTag(out, tagLongString);
        WriteLittleEndian(out, static_cast<std::int32_t>(bytes.size()));
    }
    out.append(bytes);
}

// Reads values from the buffer of a decoder. The first failed read sticks: later reads do
// nothing, so a packet is read straight through and its outcome looked at once at the end.
class TWireReader
{
public:
    enum TReadState { rsGood, rsShort, rsFlaw };

    TWireReader(QByteArrayView data, qsizetype pos) : Data(data), Pos(pos) {}

    TReadState State() const { return ReadState; }
    qsizetype Position() const { return Pos; }
    qsizetype Needed() const { return NeedUntil; }
    void Fail() { ReadState = rsFlaw; }

    void ExpectTag(TValueTag tag)
    {
        if (const char* byte = Take(1); byte && static_cast<std::uint8_t>(*byte) != tag)
            Fail();
    }

    std::int32_t Integer()
    {
        const char* tag = Take(1);
        if (!tag)
            return 0;
        switch (static_cast<std::uint8_t>(*tag)) {
        case tagInt8:
            return Fixed<std::int8_t>();
        case tagInt16:
            return Fixed<std::int16_t>();
        case tagInt32:
            return Fixed<std::int32_t>();
        default:
            Fail();
            return 0;
        }
    }

    // A declared length above maxLength is a flaw at once: nothing waits for or holds its body.
    QByteArrayView String(qsizetype maxLength)
    {
        const qsizetype length = StringLength();
        if (ReadState == rsGood && (length < 0 || length > maxLength))
            Fail();
        const char* body = Take(length);
        return body ? QByteArrayView(body, length) : QByteArrayView();
    }

private:
    qsizetype StringLength()
    {
        const char* tag = Take(1);
        if (!tag)
            return 0;
        switch (static_cast<std::uint8_t>(*tag)) {
        case tagShortString:
            return Fixed<std::uint8_t>();
        case tagLongString:
            return Fixed<std::int32_t>();
        default:
            Fail();
            return 0;
        }
    }

    template <typename T>
    T Fixed()
    {
        const char* bytes = Take(sizeof(T));
        return bytes ? qFromLittleEndian<T>(bytes) : T{};
    }

    const char* Take(qsizetype count)
    {
        if (ReadState != rsGood)
            return nullptr;
        if (Data.size() - Pos < count) {
            ReadState = rsShort;
            NeedUntil = Pos + count;
            return nullptr;
        }
        const char* bytes = Data.data() + Pos;
        Pos += count;
        return bytes;
    }

    QByteArrayView Data;
    qsizetype Pos;
    qsizetype NeedUntil = 0;
    TReadState ReadState = rsGood;
};

// Everything of one packet but its end tag, which the decoder checks after handing it out.
std::optional<TDataPacket> ReadPacket(TWireReader& reader)
{
    reader.ExpectTag(tagList);
    const QByteArrayView magic = reader.String(kMagic.size());
    if (reader.State() == TWireReader::rsGood && MagicMismatch(magic))
        reader.Fail();
    TDataPacket packet;
    packet.Reserved = reader.Integer();
    packet.Kind = reader.Integer();
    packet.Socket = reader.Integer();
    const QByteArrayView text = reader.String(TPacketDecoder::kMaxStringLength);
    packet.Column = reader.Integer();
    if (reader.State() != TWireReader::rsGood)
        return std::nullopt;
    packet.Text = FromWin1252(text);
    return packet;
}

} // namespace

QByteArray EncodePacket(const TDataPacket& packet)
{
    // A longer text would be a flaw to the peer and throw its decoder out of step with the
    // stream, so it is cut to what a decoder accepts.
    const QByteArray text = ToWin1252(packet.Text).left(TPacketDecoder::kMaxStringLength);
    QByteArray out;
    out.reserve(32 + text.size());
    WriteTag(out, tagList);
    WriteString(out, kMagic);
    WriteInteger(out, 0);
    WriteInteger(out, packet.Kind);
    WriteInteger(out, 0);
    WriteString(out, text);
    WriteInteger(out, packet.Column);
    WriteTag(out, tagEndOfList);
    return out;
}

bool MagicMismatch(QByteArrayView text)
{
    return text != kMagic;
}

void TPacketDecoder::Append(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return;
    Compact();
    Buffer.append(bytes);
}

std::optional<TDataPacket> TPacketDecoder::Next()
{
    if (Buffer.size() < NeedUntil)
        return std::nullopt;
    NeedUntil = 0;
    if (AwaitingEndTag && !ConsumeEndTag())
        return std::nullopt;

    TWireReader reader(Buffer, Pos);
    std::optional<TDataPacket> packet = ReadPacket(reader);
    switch (reader.State()) {
    case TWireReader::rsGood:
        // Settled before the packet leaves: its handler may call Next() again.
        Pos = reader.Position();
        AwaitingEndTag = true;
        return packet;
    case TWireReader::rsShort:
        NeedUntil = reader.Needed();
        return std::nullopt;
    case TWireReader::rsFlaw:
        Clear();
        return std::nullopt;
    }
    return std::nullopt;
}

void TPacketDecoder::Clear()
{
    Buffer.clear();
    Pos = 0;
    NeedUntil = 0;
    AwaitingEndTag = false;
}

qsizetype TPacketDecoder::Pending() const
{
    return Buffer.size() - Pos;
}

bool TPacketDecoder::ConsumeEndTag()
{
    if (Pos == Buffer.size()) {
        NeedUntil = Pos + 1;
        return false;
    }
    if (Buffer[Pos] != char(tagEndOfList)) {
        Clear();
        return false;
    }
    ++Pos;
    AwaitingEndTag = false;
    return true;
}

void TPacketDecoder::Compact()
{
    const bool allConsumed = Pos == Buffer.size();
    if (Pos == 0 || (!allConsumed && (Pos < kCompactThreshold || Pos * 2 < Buffer.size())))
        return;
    Buffer.remove(0, Pos);
    if (NeedUntil > 0)
        NeedUntil -= Pos;
    Pos = 0;
}
