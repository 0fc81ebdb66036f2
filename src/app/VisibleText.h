#pragma once

#include <QString>

// Text from the other side is shown literally: control characters become their visible pictures
// instead of breaking the line or the layout, and an oversized text is cut for display.
inline QString ShowControlCharacters(const QString& text, qsizetype maxLength)
{
    QString shown = text.left(maxLength);
    for (QChar& c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7F)
            c = QChar(0x2421);
    }
    return shown;
}
