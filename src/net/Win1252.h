#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Windows-1252 at the wire boundary. All 256 byte values round-trip (the five bytes that
// Windows-1252 leaves undefined map to the C1 controls of the same value); a character
// with no Windows-1252 byte is sent as '?'.
QByteArray ToWin1252(QStringView text);
QString FromWin1252(QByteArrayView bytes);
