#include "e2e/VirtualDisplay.h"

#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

namespace {

quint32 At(const QByteArray& data, qsizetype offset)
{
    return qFromBigEndian<quint32>(data.constData() + offset);
}

// Reads the true-colour ZPixmap picture (3 or 4 bytes a pixel) that `xwd -root` writes; Xvfb
// runs on this machine, so its pixels come in this machine's (little-endian) byte order.
QImage FromXwd(const QByteArray& xwd)
{
    if (xwd.size() < 100)
        return {};
    const int width = int(At(xwd, 16)), height = int(At(xwd, 20)), stride = int(At(xwd, 44)) / 8;
    const qsizetype bytesPerLine = At(xwd, 48), start = qsizetype(At(xwd, 0)) + qsizetype(At(xwd, 76)) * 12;
    if ((stride != 3 && stride != 4) || bytesPerLine < width * stride || xwd.size() < start + bytesPerLine * height)
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto* p = reinterpret_cast<const uchar*>(xwd.constData() + start + y * bytesPerLine + x * stride);
            image.setPixel(x, y, qRgb(p[2], p[1], p[0]));
        }
    return image;
}

}  // namespace

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
    for (int number = 91; number < 140; ++number) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QFile::exists(socket) || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        DisplayName = QStringLiteral(":%1").arg(number);
        Server = std::make_unique<QProcess>();
        Server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // -noreset: otherwise the server resets whenever its last client leaves.
        Server->start(QStringLiteral("Xvfb"), {DisplayName, "-screen", "0", "1280x800x24", "-nolisten", "tcp", "-noreset"});
        for (int wait = 0; wait < 100 && Server->state() != QProcess::NotRunning; ++wait) {
            bool ok = false;
            if (QFile::exists(socket) && (Run(QStringLiteral("xdotool"), {"getdisplaygeometry"}, &ok), ok))
                return true;
            QThread::msleep(100);
        }
        Server.reset();
    }
    *error = QStringLiteral("no X server could be started");
    return false;
}

QProcessEnvironment TVirtualDisplay::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), DisplayName);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return env;
}

QString TVirtualDisplay::Run(const QString& tool, const QStringList& arguments, bool* ok) const
{
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.start(tool, arguments);
    const bool finished = process.waitForFinished(15000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

QRect TVirtualDisplay::WindowGeometry(const QString& window) const
{
    // WINDOW=, X=, Y=, WIDTH=, HEIGHT=, one a line.
    const QStringList shell = XDoTool({"getwindowgeometry", "--shell", window}).split(u'\n');
    const auto value = [&](int line) { return shell.value(line).section(u'=', 1).toInt(); };
    return QRect(value(1), value(2), value(3), value(4));
}

QImage TVirtualDisplay::Screenshot() const
{
    QProcess xwd;
    xwd.setProcessEnvironment(Environment());
    xwd.start(QStringLiteral("xwd"), {"-root", "-silent"});
    return xwd.waitForFinished(15000) ? FromXwd(xwd.readAllStandardOutput()) : QImage();
}
