#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// A private X server for end-to-end tests, driven the way a person would: windows found by
// their titles, keys typed and buttons clicked with xdotool, pixels read from the screen.
class TVirtualDisplay
{
public:
    ~TVirtualDisplay();

    static bool ToolsAvailable(QString* missing);
    bool Start(QString* error);
    QString Name() const { return DisplayName; }
    QProcessEnvironment Environment() const;  // for programs shown on this display

    // xdotool with the given arguments; its standard output, trimmed.
    QString XDoTool(const QStringList& arguments, bool* ok = nullptr) const;
    QStringList FindWindows(const QString& titleRegex, qint64 pid = 0) const;
    QRect WindowGeometry(const QString& window) const;
    void Focus(const QString& window) const;
    void Key(const QString& keys) const;
    void Type(const QString& text) const;
    void Click(QPoint at) const;

    QImage Screenshot() const;
    QString Property(const QString& window, const QString& name) const;  // as xprop prints it

private:
    QString DisplayName;
    std::unique_ptr<QProcess> Server;
};
