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

    // Runs a tool of the X display; its standard output, trimmed.
    QString Run(const QString& tool, const QStringList& arguments, bool* ok = nullptr) const;
    QString XDoTool(const QStringList& arguments) const { return Run(QStringLiteral("xdotool"), arguments); }
    QStringList FindWindows(const QString& titleRegex, qint64 pid) const;
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
