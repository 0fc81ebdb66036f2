#pragma once

#include <QImage>
#include <QProcess>
#include <QStringList>

#include <memory>

// A private X server for end-to-end tests, driven the way a person would: windows found by
// their titles, keys typed and buttons clicked with xdotool, pixels read from the screen.
class TVirtualDisplay
{
public:
    ~TVirtualDisplay();

    bool Start(QString* error);
    QProcessEnvironment Environment() const;  // for programs shown on this display
    QString Name() const { return DisplayName; }

    // Runs a tool of the X display; its standard output.
    QByteArray Run(const QString& tool, const QStringList& arguments) const;
    QString XDoTool(const QStringList& arguments) const { return QString(Run("xdotool", arguments)).trimmed(); }
    QStringList FindWindows(const QString& titleRegex, qint64 pid) const
    {
        return XDoTool({"search", "--all", "--onlyvisible", "--pid", QString::number(pid), "--name", titleRegex})
            .split(u'\n', Qt::SkipEmptyParts);
    }
    QRect WindowGeometry(const QString& window) const;
    // There is no window manager: nothing gets the keyboard unless we give it.
    void Focus(const QString& window) const { XDoTool({"windowfocus", "--sync", window}); }
    void Key(const QString& keys) const { XDoTool(QStringList{"key", "--delay", "60"} + keys.split(u' ', Qt::SkipEmptyParts)); }
    void Type(const QString& text) const { XDoTool({"type", "--delay", "30", text}); }
    void Click(QPoint at) const { XDoTool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}); }
    QImage Screenshot(const QString& window = {}) const;  // the whole screen, or one window
    // As xprop prints it.
    QString Property(const QString& id, const QString& name) const { return QString(Run("xprop", {"-id", id, name})).trimmed(); }

private:
    QString DisplayName;
    std::unique_ptr<QProcess> Server;
};
