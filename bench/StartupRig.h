#pragma once

#include "MapWatcher.h"
#include "ProcStats.h"
#include "e2e/VirtualDisplay.h"

#include <QString>

#include <chrono>
#include <optional>

class QProcess;
class TRawPeer;

struct TRunFigures
{
    double StartupMs = 0;  // from exec to the name prompt on screen
    double RssMb = 0;      // 3 s after the main window appeared
    TCpuSample Background; // 10 s idle with no window active
    TCpuSample Active;     // 10 s idle as the active window
};

// Starts a program on a private X server and drives it the way a player starts a game: the
// name prompt, the main window, and for Tessaro a listening port with a peer connected to it.
// The program may be Tessaro or anything with the same two window titles.
class TStartupRig
{
public:
    bool Start();
    QString Problem() const { return Trouble; }
    QString DisplayName() const { return Display.Name(); }

    // Only as far as the name prompt: fills the file caches before the counted runs.
    bool WarmUp(const QString& program);
    std::optional<TRunFigures> Measure(const QString& program, bool listens);

private:
    using TClock = std::chrono::steady_clock;

    std::optional<TRunFigures> Drive(const QString& program, bool listens, QProcess& process);
    std::optional<TMappedWindow> Launch(const QString& program, QProcess& process);
    std::optional<TMappedWindow> AnswerPrompt(const TMappedWindow& prompt);
    bool Listen(const TMappedWindow& window, TRawPeer& peer);
    bool MeasureIdle(const TMappedWindow& window, qint64 pid, TRunFigures& figures);
    static std::optional<TCpuSample> IdleCpu(qint64 pid);
    static void Stop(QProcess& process);

    TVirtualDisplay Display;
    TMapWatcher Watcher;
    TClock::time_point Launched;
    QString Trouble;
};
