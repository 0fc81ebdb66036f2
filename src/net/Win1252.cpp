#include "net/Win1252.h"

#include <array>
#include <cstdint>

namespace {

// Bytes 0x80..0x9F; every other byte value is the Unicode code point of the same number.
// The five bytes Windows-1252 leaves undefined keep their C1 control so that they round-trip.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr std::array<char16_t, 256> MakeDecodeTable()
{
    std::array<char16_t, 256> table{};
    for (int byte = 0; byte < 256; ++byte)
        table[byte] = static_cast<char16_t>(byte);
    for (int i = 0; i < 32; ++i)
        table[0x80 + i] = kHighControls[i];
    return table;
}

constexpr std::array<char16_t, 256> kDecodeTable = MakeDecodeTable();

constexpr char kUnmappable = '?';

char EncodeUnit(char16_t unit)
{
    const bool identity = unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF);
    if (identity)
        return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == unit)
            return static_cast<char>(0x80 + i);
    }
    return kUnmappable;
}

} // namespace

QByteArray ToWin1252(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar unit = text[i];
        // A character outside the BMP is one character to the user, so it becomes one '?'.
        if (unit.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes.append(kUnmappable);
            ++i;
            continue;
        }
        bytes.append(EncodeUnit(unit.unicode()));
    }
    return bytes;
}

QString FromWin1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = QChar(kDecodeTable[static_cast<std::uint8_t>(bytes[i])]);
    return text;
}
