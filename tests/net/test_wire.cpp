#include "net/DataPacket.h"
#include "net/PacketSamples.h"

#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <limits>
#include <utility>

using namespace PacketSamples;

// Readable failures: QCOMPARE prints packets through this.
char* toString(const TDataPacket& packet)
{
    const QString text = QStringLiteral("{Reserved %1, Kind %2, Socket %3, Text \"%4\" (%5), Column %6}")
                             .arg(packet.Reserved).arg(packet.Kind).arg(packet.Socket)
                             .arg(packet.Text.left(40)).arg(packet.Text.size()).arg(packet.Column);
    return qstrdup(text.toUtf8().constData());
}

namespace {

const QByteArray kHeader = QByteArray::fromHex("01 06 08 54 53 52 4F 31 30 30 30");

QByteArray Hex(const char* text)
{
    return QByteArray::fromHex(text);
}

// A packet built by hand, so that fields can take forms our encoder never writes.
QByteArray Packet(const QByteArray& kind, const QByteArray& text, const QByteArray& column, const char* end = "00")
{
    return kHeader + Hex("02 00") + QByteArray::fromHex(kind) + Hex("02 00") + QByteArray::fromHex(text)
           + QByteArray::fromHex(column) + Hex(end);
}

QList<TDataPacket> DecodeWhole(const QByteArray& stream)
{
    return DecodeInPieces(stream, [&] { return stream.size(); });
}

QList<TDataPacket> DrainInto(TPacketDecoder& decoder)
{
    QList<TDataPacket> packets;
    while (std::optional<TDataPacket> packet = decoder.Next())
        packets.append(*packet);
    return packets;
}

} // namespace

class TestWire : public QObject
{
    Q_OBJECT

private slots:
    void encodesExactly_data();
    void encodesExactly();
    void cutsTextTooLongForAnyDecoder();

    void acceptsEveryIntegerForm_data();
    void acceptsEveryIntegerForm();
    void acceptsEitherStringForm();
    void dropsFromFlawOn_data();
    void dropsFromFlawOn();
    void returnsUnknownKindAndGoesOn();
    void decodesSameWhateverThePieces_data();
    void decodesSameWhateverThePieces();
    void decodesBatchOf255Bytes_data();
    void decodesBatchOf255Bytes();
    void keepsIncompletePacket();
    void handsOutPacketBeforeItsEndTag();
    void rejectsOversizedStringAtOnce_data();
    void rejectsOversizedStringAtOnce();
    void acceptsStringOfMaximumLength();
    void resumesFromNestedDrain_data();
    void resumesFromNestedDrain();
};

void TestWire::encodesExactly_data()
{
    QTest::addColumn<TDataPacket>("packet");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("chat abc") << MakePacket(pkChat, "abc") << Packet("02 03", "06 03 61 62 63", "02 00");
    QTest::newRow("move 4") << MakePacket(pkMove, {}, 4) << Packet("02 00", "06 00", "02 04");
    QTest::newRow("bye") << MakePacket(pkBye) << Packet("02 01", "06 00", "02 00");
    QTest::newRow("accented name") << MakePacket(pkName, "Zoé") << Packet("02 04", "06 03 5A 6F E9", "02 00");
    // Kind and column both take the narrowest integer form that holds the value.
    const auto integer = [](const char* name, std::int32_t value, const char* hex) {
        QTest::newRow(name) << MakePacket(value, {}, value) << Packet(hex, "06 00", hex);
    };
    integer("127", 127, "02 7F");
    integer("128", 128, "03 80 00");
    integer("-1", -1, "02 FF");
    integer("-129", -129, "03 7F FF");
    integer("40000", 40000, "04 40 9C 00 00");
    integer("int32 min", std::numeric_limits<std::int32_t>::min(), "04 00 00 00 80");
    // Texts of 256 bytes and more switch to the long string form.
    const auto text = [](const char* name, int length, const char* prefix) {
        QTest::newRow(name) << MakePacket(pkChat, QString(length, u'é'))
                            << Packet("02 03", prefix + QByteArray(length, '\xE9').toHex(), "02 00");
    };
    text("255 bytes", 255, "06 FF");
    text("256 bytes", 256, "0C 00 01 00 00");
    text("70000 bytes", 70000, "0C 70 11 01 00");
}

void TestWire::encodesExactly()
{
    QFETCH(TDataPacket, packet);
    QFETCH(QByteArray, bytes);
    QCOMPARE(EncodePacket(packet).toHex(' '), bytes.toHex(' '));
    QCOMPARE(DecodeWhole(bytes), QList<TDataPacket>{packet});
}

void TestWire::cutsTextTooLongForAnyDecoder()
{
    const qsizetype limit = TPacketDecoder::kMaxStringLength;
    const QByteArray bytes = EncodePacket(MakePacket(pkChat, QString(limit + 10, u'x')));
    QCOMPARE(bytes.size(), 25 + limit);
    QCOMPARE(DecodeWhole(bytes), QList<TDataPacket>{MakePacket(pkChat, QString(limit, u'x'))});
}

void TestWire::acceptsEveryIntegerForm_data()
{
    QTest::addColumn<QByteArray>("column");
    QTest::addColumn<std::int32_t>("value");
    QTest::newRow("int8 4") << Hex("02 04") << 4;
    QTest::newRow("int16 4") << Hex("03 04 00") << 4;
    QTest::newRow("int32 4") << Hex("04 04 00 00 00") << 4;
    QTest::newRow("int16 -2") << Hex("03 FE FF") << -2;
}

void TestWire::acceptsEveryIntegerForm()
{
    QFETCH(QByteArray, column);
    QFETCH(std::int32_t, value);
    const QByteArray bytes = kHeader + column + column + column + Hex("06 00") + column + Hex("00");
    TDataPacket expected = MakePacket(value, {}, value);
    expected.Reserved = value;
    expected.Socket = value;
    QCOMPARE(DecodeWhole(bytes), QList<TDataPacket>{expected});
}

void TestWire::acceptsEitherStringForm()
{
    const QByteArray longMagic = Hex("01 0C 08 00 00 00 54 53 52 4F 31 30 30 30");
    const QByteArray body = Hex("02 00 02 03 02 00 0C 03 00 00 00 61 E0 63 02 00 00");
    QCOMPARE(DecodeWhole(longMagic + body), QList<TDataPacket>{MakePacket(pkChat, "aàc")});
}

void TestWire::dropsFromFlawOn_data()
{
    QTest::addColumn<QByteArray>("flawed");
    QTest::addColumn<int>("returned");
    QTest::newRow("no list tag") << Hex("02") + Packet("02 00", "06 00", "02 00").mid(1) << 0;
    QTest::newRow("magic other letters") << Hex("01 06 08") + "TSRO1001" + Packet("02 00", "06 00", "02 00").mid(11) << 0;
    QTest::newRow("magic longer") << Hex("01 06 09") + "TSRO10000" + Packet("02 00", "06 00", "02 00").mid(11) << 0;
    QTest::newRow("magic as integer") << Hex("01 02 08") + Packet("02 00", "06 00", "02 00").mid(11) << 0;
    QTest::newRow("kind as string") << Packet("06 00", "06 00", "02 00") << 0;
    QTest::newRow("text as list") << Packet("02 03", "01 00", "02 00") << 0;
    QTest::newRow("column as end tag") << Packet("02 00", "06 00", "00") << 0;
    QTest::newRow("negative long length") << Packet("02 03", "0C FF FF FF FF 61", "02 00") << 0;
    QTest::newRow("long length over limit") << Packet("02 03", "0C 01 00 10 00", "02 00") << 0;
    QTest::newRow("end tag 01") << Packet("02 00", "06 00", "02 04", "01") << 1;
}

// A good packet comes first and must survive; everything from the flaw on must not.
void TestWire::dropsFromFlawOn()
{
    QFETCH(QByteArray, flawed);
    QFETCH(int, returned);
    const TDataPacket good = MakePacket(pkName, "Marie");
    const QByteArray after = EncodePacket(MakePacket(pkChat, "Paul: salut"));
    TPacketDecoder decoder;
    decoder.Append(EncodePacket(good) + flawed + after);
    const QList<TDataPacket> packets = DrainInto(decoder);
    QCOMPARE(packets.size(), 1 + returned);
    QCOMPARE(packets.first(), good);
    QCOMPARE(decoder.Pending(), 0);
    decoder.Append(after);  // new bytes start afresh
    QCOMPARE(DrainInto(decoder), QList<TDataPacket>{MakePacket(pkChat, "Paul: salut")});
}

void TestWire::returnsUnknownKindAndGoesOn()
{
    const QList<TDataPacket> packets = {MakePacket(pkMove, {}, 3), MakePacket(7), MakePacket(pkChat, "encore"),
                                        MakePacket(-1), MakePacket(pkMove, {}, 5)};
    QCOMPARE(DecodeWhole(EncodeAll(packets)), packets);
}

void TestWire::decodesSameWhateverThePieces_data()
{
    QTest::addColumn<int>("maxPiece");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("one byte") << 1 << 1u;
    QTest::newRow("up to 7") << 7 << 2u;
    QTest::newRow("up to 700") << 700 << 4u;
    QTest::newRow("up to 9000") << 9000 << 5u;
}

void TestWire::decodesSameWhateverThePieces()
{
    QFETCH(int, maxPiece);
    QFETCH(quint32, seed);
    QList<TDataPacket> packets = SamplePackets(seed, 400, 3000);
    packets.append(MakePacket(pkChat, QString(256, u'€')));
    packets.append(MakePacket(pkMove, {}, -40000));
    const QByteArray stream = EncodeAll(packets);
    QCOMPARE(DecodeWhole(stream), packets);
    QRandomGenerator random(seed);
    QCOMPARE(DecodeInPieces(stream, [&] { return random.bounded(1, maxPiece + 1); }), packets);
}

void TestWire::decodesBatchOf255Bytes_data()
{
    QTest::addColumn<QList<TDataPacket>>("packets");
    QTest::newRow("one chat") << QList<TDataPacket>{MakePacket(pkChat, QString(233, u'a'))};
    QList<TDataPacket> several(10, MakePacket(pkMove, {}, 6));
    several.append(MakePacket(pkChat, "Léa: bien vu!"));
    QTest::newRow("ten moves and a chat") << several;
}

void TestWire::decodesBatchOf255Bytes()
{
    QFETCH(QList<TDataPacket>, packets);
    const QByteArray stream = EncodeAll(packets);
    QCOMPARE(stream.size(), 255);
    QCOMPARE(DecodeWhole(stream), packets);

    // The same 255 bytes as the first batch of a longer stream lose nothing across the cut.
    QList<TDataPacket> longer = packets;
    longer.append(MakePacket(pkChat, QString(300, u'z')));
    const QByteArray longStream = EncodeAll(longer);
    bool first = true;
    QCOMPARE(DecodeInPieces(longStream, [&] { return std::exchange(first, false) ? 255 : 1000; }), longer);
}

void TestWire::keepsIncompletePacket()
{
    const QByteArray bytes = EncodePacket(MakePacket(pkChat, "patience"));
    TPacketDecoder decoder;
    decoder.Append(bytes.first(bytes.size() - 3));
    QCOMPARE(decoder.Next(), std::nullopt);
    QCOMPARE(decoder.Pending(), bytes.size() - 3);
    QCOMPARE(decoder.Next(), std::nullopt);
    decoder.Append(bytes.last(3));
    QCOMPARE(DrainInto(decoder), QList<TDataPacket>{MakePacket(pkChat, "patience")});
    QCOMPARE(decoder.Pending(), 0);
}

void TestWire::handsOutPacketBeforeItsEndTag()
{
    const QByteArray move = EncodePacket(MakePacket(pkMove, {}, 2));
    TPacketDecoder decoder;
    decoder.Append(move.chopped(1));
    QCOMPARE(decoder.Next(), MakePacket(pkMove, {}, 2));
    QCOMPARE(decoder.Next(), std::nullopt);

    decoder.Append(Hex("00") + EncodePacket(MakePacket(pkBye)));
    QCOMPARE(DrainInto(decoder), QList<TDataPacket>{MakePacket(pkBye)});

    decoder.Append(move.chopped(1));
    QCOMPARE(decoder.Next(), MakePacket(pkMove, {}, 2));
    decoder.Append(Hex("07") + move);
    QCOMPARE(decoder.Next(), std::nullopt);
    QCOMPARE(decoder.Pending(), 0);
}

void TestWire::rejectsOversizedStringAtOnce_data()
{
    QTest::addColumn<QByteArray>("length");
    QTest::newRow("2 GB") << Hex("FF FF FF 7F");
    QTest::newRow("negative") << Hex("00 00 00 80");
}

void TestWire::rejectsOversizedStringAtOnce()
{
    QFETCH(QByteArray, length);
    TPacketDecoder decoder;
    decoder.Append(kHeader + Hex("02 00 02 03 02 00 0C") + length);
    QCOMPARE(decoder.Next(), std::nullopt);
    QCOMPARE(decoder.Pending(), 0);
}

void TestWire::acceptsStringOfMaximumLength()
{
    const qsizetype limit = TPacketDecoder::kMaxStringLength;
    const QByteArray start = kHeader + Hex("02 00 02 03 02 00 0C 00 00 10 00");
    TPacketDecoder decoder;
    decoder.Append(start);
    QCOMPARE(decoder.Next(), std::nullopt);
    QCOMPARE(decoder.Pending(), start.size());
    decoder.Append(QByteArray(limit, 'y') + Hex("02 00 00"));
    QCOMPARE(DrainInto(decoder), QList<TDataPacket>{MakePacket(pkChat, QString(limit, u'y'))});
}

void TestWire::resumesFromNestedDrain_data()
{
    // Eight 22-byte moves arrive in three pieces cut at the given offsets; the later pieces are
    // appended and drained from inside the handling of the packets at nestAt, as a modal box's
    // nested loop does, and the outer drain must then carry on where it was.
    QTest::addColumn<QList<int>>("cuts");
    QTest::addColumn<QList<int>>("nestAt");
    QTest::newRow("nested on first packet") << QList<int>{66, 110} << QList<int>{0, 1};
    QTest::newRow("cut inside a packet") << QList<int>{75, 119} << QList<int>{0, 3};
    QTest::newRow("nested on last of batch") << QList<int>{66, 132} << QList<int>{2, 5};
}

void TestWire::resumesFromNestedDrain()
{
    QFETCH(QList<int>, cuts);
    QFETCH(QList<int>, nestAt);
    QList<TDataPacket> packets;
    for (int column = 0; column < 8; ++column)
        packets.append(MakePacket(pkMove, {}, column));
    const QByteArray stream = EncodeAll(packets);
    QList<QByteArray> pieces = {stream.first(cuts[0]), stream.sliced(cuts[0], cuts[1] - cuts[0]),
                                stream.sliced(cuts[1])};
    TPacketDecoder decoder;
    QList<TDataPacket> handled;
    std::function<void()> drain = [&] {
        while (std::optional<TDataPacket> packet = decoder.Next()) {
            handled.append(*packet);
            if (!nestAt.isEmpty() && handled.size() - 1 == nestAt.first()) {
                nestAt.removeFirst();
                decoder.Append(pieces.takeFirst());
                drain();
            }
        }
    };
    decoder.Append(pieces.takeFirst());
    drain();
    QVERIFY(pieces.isEmpty());
    QCOMPARE(handled, packets);
    QCOMPARE(decoder.Pending(), 0);
}

QTEST_GUILESS_MAIN(TestWire)
#include "test_wire.moc"
