#include "e2e/VirtualDisplay.h"

#include <QStandardPaths>
#include <QtEndian>

TVirtualDisplay::~TVirtualDisplay()
{
    if (Server) {
        Server->terminate();
        Server->waitForFinished(5000);
    }
}

bool TVirtualDisplay::Start(QString* error)
{
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "xprop"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            *error = QString::fromLatin1(tool) + " is not installed";
            return false;
        }
    Server = std::make_unique<QProcess>();
    Server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The server picks a free display and prints its number once it takes clients. -noreset:
    // otherwise it resets whenever its last client leaves.
    Server->start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
    for (int wait = 0; wait < 100 && !Server->canReadLine() && Server->state() != QProcess::NotRunning; ++wait)
        Server->waitForReadyRead(200);
    DisplayName = ':' + QString::fromLatin1(Server->readLine()).trimmed();
    if (DisplayName.size() > 1)
        return true;
    *error = QStringLiteral("no X server could be started");
    return false;
}

QProcessEnvironment TVirtualDisplay::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), DisplayName);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    return env;
}

QByteArray TVirtualDisplay::Run(const QString& tool, const QStringList& arguments) const
{
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(tool, arguments);
    process.waitForFinished(15000);
    return process.readAllStandardOutput();
}

QRect TVirtualDisplay::WindowGeometry(const QString& window) const
{
    // WINDOW=, X=, Y=, WIDTH=, HEIGHT=, one a line.
    const QStringList shell = XDoTool({"getwindowgeometry", "--shell", window}).split(u'\n');
    const auto value = [&](int line) { return shell.value(line).section(u'=', 1).toInt(); };
    return QRect(value(1), value(2), value(3), value(4));
}

// `xwd -root` writes a header, a colour map of 12-byte entries, then the pixels, 3 or 4 bytes each;
// Xvfb runs on this machine, so they come in its (little-endian) byte order.
// A dialog reads black from the root window under a bare Xvfb: its own pixels are read from it.
QImage TVirtualDisplay::Screenshot(const QString& window) const
{
    const QByteArray xwd = Run("xwd", QStringList{"-silent"} + (window.isEmpty() ? QStringList{"-root"} : QStringList{"-id", window}));
    const auto at = [&xwd](int field) { return xwd.size() < 100 ? 0 : int(qFromBigEndian<quint32>(xwd.data() + field)); };
    const int width = at(16), height = at(20), stride = at(44) / 8, bytesPerLine = at(48), start = at(0) + at(76) * 12;
    if ((stride != 3 && stride != 4) || bytesPerLine < width * stride || xwd.size() < start + qint64(bytesPerLine) * height)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const uchar*>(xwd.data()) + start + qint64(y) * bytesPerLine + x * stride;
            image.setPixel(x, y, qRgb(p[2], p[1], p[0]));
        }
    return image;
}
