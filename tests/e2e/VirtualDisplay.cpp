#include "e2e/VirtualDisplay.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

namespace {

constexpr int kCommandTimeoutMs = 15000;

quint32 BigEndianAt(const QByteArray& data, qsizetype offset)
{
    return qFromBigEndian<quint32>(data.constData() + offset);
}

// Reads the ZPixmap true-colour picture that `xwd -root` writes.
QImage FromXwd(const QByteArray& xwd)
{
    if (xwd.size() < 100)
        return {};
    const quint32 headerSize = BigEndianAt(xwd, 0);
    const quint32 width = BigEndianAt(xwd, 16);
    const quint32 height = BigEndianAt(xwd, 20);
    const quint32 byteOrder = BigEndianAt(xwd, 28);
    const quint32 bitsPerPixel = BigEndianAt(xwd, 44);
    const quint32 bytesPerLine = BigEndianAt(xwd, 48);
    const quint32 colours = BigEndianAt(xwd, 76);
    const qsizetype start = qsizetype(headerSize) + qsizetype(colours) * 12;
    const quint32 stride = bitsPerPixel / 8;
    if ((stride != 3 && stride != 4) || bytesPerLine < width * stride
        || xwd.size() < start + qsizetype(bytesPerLine) * height)
        return {};
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (quint32 y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const uchar*>(xwd.constData() + start + y * bytesPerLine);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(int(y)));
        for (quint32 x = 0; x < width; ++x) {
            const uchar* p = line + stride * x;
            const quint32 value = byteOrder == 0 ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16
                                                 : quint32(p[stride - 1]) | quint32(p[stride - 2]) << 8
                                                       | quint32(p[stride - 3]) << 16;
            out[x] = 0xFF000000u | value;
        }
    }
    return image;
}

}  // namespace

TVirtualDisplay::~TVirtualDisplay()
{
    if (Server) {
        Server->terminate();
        if (!Server->waitForFinished(5000))
            Server->kill();
    }
}

bool TVirtualDisplay::ToolsAvailable(QString* missing)
{
    for (const char* tool : {"Xvfb", "xdotool", "xwd", "xprop"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            *missing = QString::fromLatin1(tool);
            return false;
        }
    }
    return true;
}

bool TVirtualDisplay::Start(QString* error)
{
    for (int number = 91; number < 140; ++number) {
        if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))
            || QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        Server = std::make_unique<QProcess>();
        Server->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        Server->start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"),
                                               QStringLiteral("0"), QStringLiteral("1280x800x24"),
                                               QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                               // Without it the server resets whenever its last client
                                               // leaves, and refuses the next one meanwhile.
                                               QStringLiteral("-noreset")});
        if (!Server->waitForStarted(5000))
            break;
        for (int wait = 0; wait < 100; ++wait) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number))) {
                DisplayName = QStringLiteral(":%1").arg(number);
                bool ok = false;
                XDoTool({QStringLiteral("getdisplaygeometry")}, &ok);
                if (ok)
                    return true;
            }
            if (Server->state() != QProcess::Running)
                break;
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

QString TVirtualDisplay::XDoTool(const QStringList& arguments, bool* ok) const
{
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(QStringLiteral("xdotool"), arguments);
    const bool finished = tool.waitForFinished(kCommandTimeoutMs);
    if (ok)
        *ok = finished && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

QStringList TVirtualDisplay::FindWindows(const QString& titleRegex, qint64 pid) const
{
    QStringList arguments{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible")};
    if (pid != 0)
        arguments << QStringLiteral("--pid") << QString::number(pid);
    arguments << QStringLiteral("--name") << titleRegex;
    const QString found = XDoTool(arguments);
    return found.isEmpty() ? QStringList{} : found.split(QLatin1Char('\n'));
}

QRect TVirtualDisplay::WindowGeometry(const QString& window) const
{
    const QString shell = XDoTool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), window});
    QRect geometry;
    for (const QString& line : shell.split(QLatin1Char('\n'))) {
        const QString value = line.section(QLatin1Char('='), 1);
        if (line.startsWith(QLatin1String("X=")))
            geometry.moveLeft(value.toInt());
        else if (line.startsWith(QLatin1String("Y=")))
            geometry.moveTop(value.toInt());
        else if (line.startsWith(QLatin1String("WIDTH=")))
            geometry.setWidth(value.toInt());
        else if (line.startsWith(QLatin1String("HEIGHT=")))
            geometry.setHeight(value.toInt());
    }
    return geometry;
}

void TVirtualDisplay::Focus(const QString& window) const
{
    // There is no window manager: nothing gets the keyboard unless we give it.
    XDoTool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
}

void TVirtualDisplay::Key(const QString& keys) const
{
    XDoTool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")}
            + keys.split(QLatin1Char(' '), Qt::SkipEmptyParts));
}

void TVirtualDisplay::Type(const QString& text) const
{
    XDoTool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

void TVirtualDisplay::Click(QPoint at) const
{
    XDoTool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

QImage TVirtualDisplay::Screenshot() const
{
    QProcess xwd;
    xwd.setProcessEnvironment(Environment());
    xwd.start(QStringLiteral("xwd"), {QStringLiteral("-root"), QStringLiteral("-silent")});
    if (!xwd.waitForFinished(kCommandTimeoutMs))
        return {};
    return FromXwd(xwd.readAllStandardOutput());
}

QString TVirtualDisplay::Property(const QString& window, const QString& name) const
{
    QProcess xprop;
    xprop.setProcessEnvironment(Environment());
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), window, name});
    if (!xprop.waitForFinished(kCommandTimeoutMs))
        return {};
    return QString::fromLocal8Bit(xprop.readAllStandardOutput()).trimmed();
}
