#include "StartupRig.h"

#include "support/RawPeer.h"

#include <QProcess>

#include <cstdio>
#include <functional>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStepTimeout{30'000};
constexpr milliseconds kBeforeMemory{3'000};
constexpr milliseconds kBeforeIdle{500};
constexpr milliseconds kIdleSpan{10'000};
constexpr milliseconds kMenuOpens{300};

QString Id(const TMappedWindow& window)
{
    return QString::number(window.Window);
}

// Says why a run stopped and returns false, for the callers that answer yes or no.
bool Abandon(const char* what)
{
    std::printf("  run abandoned: %s\n", what);
    return false;
}

bool Retry(const std::function<bool()>& attempt)
{
    const TClock::time_point deadline = TClock::now() + kStepTimeout;
    while (!attempt()) {
        if (TClock::now() > deadline)
            return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

std::uint16_t FreePort()
{
    const TRawPeer probe = TRawPeer::Listener();
    return probe.Port();
}

}  // namespace

bool TStartupRig::Start()
{
    QString problem;
    if (!Display.Start(&problem)) {
        Trouble = problem;
        return false;
    }
    if (!Watcher.Connect(Display.Name())) {
        Trouble = QStringLiteral("cannot watch the windows of ") + Display.Name();
        return false;
    }
    return true;
}

bool TStartupRig::WarmUp(const QString& program)
{
    QProcess process;
    const bool shown = Launch(program, process).has_value();
    Stop(process);
    return shown;
}

std::optional<TRunFigures> TStartupRig::Measure(const QString& program, bool listens)
{
    QProcess process;
    std::optional<TRunFigures> figures = Drive(program, listens, process);
    Stop(process);
    return figures;
}

std::optional<TRunFigures> TStartupRig::Drive(const QString& program, bool listens, QProcess& process)
{
    const std::optional<TMappedWindow> prompt = Launch(program, process);
    if (!prompt)
        return std::nullopt;
    TRunFigures figures;
    figures.StartupMs = std::chrono::duration<double, std::milli>(prompt->At - Launched).count();

    const std::optional<TMappedWindow> window = AnswerPrompt(*prompt);
    if (!window)
        return std::nullopt;
    std::this_thread::sleep_until(window->At + kBeforeMemory);
    const std::optional<double> rss = ReadRssMb(process.processId());
    if (!rss) {
        Abandon("no resident memory figure");
        return std::nullopt;
    }
    figures.RssMb = *rss;

    TRawPeer peer;
    if (listens && !Listen(*window, peer))
        return std::nullopt;
    if (!MeasureIdle(*window, process.processId(), figures))
        return std::nullopt;
    peer.ReadAvailable();
    if (listens && peer.SawEndOfStream()) {
        Abandon("the connection closed while idle");
        return std::nullopt;
    }
    return figures;
}

std::optional<TMappedWindow> TStartupRig::Launch(const QString& program, QProcess& process)
{
    Watcher.Drain();
    process.setProcessEnvironment(Display.Environment());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    Launched = TClock::now();
    process.start(program, {});
    if (!process.waitForStarted(int(kStepTimeout.count()))) {
        Abandon("the program did not start");
        return std::nullopt;
    }
    std::optional<TMappedWindow> prompt = Watcher.WaitForMapped(QStringLiteral("Nom"), kStepTimeout);
    if (!prompt) {
        Abandon("the name prompt never appeared");
        return std::nullopt;
    }
    return prompt;
}

std::optional<TMappedWindow> TStartupRig::AnswerPrompt(const TMappedWindow& prompt)
{
    Display.Focus(Id(prompt));
    Display.Type(QStringLiteral("Banc"));
    Display.Key(QStringLiteral("Return"));
    std::optional<TMappedWindow> window = Watcher.WaitForMapped(QStringLiteral("Tessaro"), kStepTimeout);
    if (!window) {
        Abandon("the main window never appeared");
        return std::nullopt;
    }
    return window;
}

// Menu Connection, Listen, a free port; then a peer that connects and sends nothing.
bool TStartupRig::Listen(const TMappedWindow& window, TRawPeer& peer)
{
    const std::uint16_t port = FreePort();
    Display.Focus(Id(window));
    Display.Key(QStringLiteral("alt+c"));
    std::this_thread::sleep_for(kMenuOpens);
    Display.Key(QStringLiteral("e"));
    const std::optional<TMappedWindow> dialog = Watcher.WaitForMapped(QStringLiteral("Ecoutez"), kStepTimeout);
    if (!dialog)
        return Abandon("the listen dialog never appeared");
    Display.Focus(Id(*dialog));
    Display.Type(QString::number(port));
    Display.Key(QStringLiteral("Return"));

    if (!Retry([&] { return (peer = TRawPeer::ConnectTo(port)).IsOpen(); }))
        return Abandon("nothing listened on the port");
    // The program greets with its name once it has accepted: then it is connected.
    if (!Retry([&] { return !peer.ReadAvailable().isEmpty(); }))
        return Abandon("the program never sent its name");
    return true;
}

// First in the background, as behind another program; then as the active window, where
// the focused text field blinks its cursor.
bool TStartupRig::MeasureIdle(const TMappedWindow& window, qint64 pid, TRunFigures& figures)
{
    Watcher.FocusNone();
    const std::optional<TCpuSample> background = IdleCpu(pid);
    Display.Focus(Id(window));
    const std::optional<TCpuSample> active = IdleCpu(pid);
    if (!background || !active)
        return Abandon("the program ended while idle");
    figures.Background = *background;
    figures.Active = *active;
    return true;
}

std::optional<TCpuSample> TStartupRig::IdleCpu(qint64 pid)
{
    std::this_thread::sleep_for(kBeforeIdle);
    const std::optional<TCpuSample> before = ReadCpu(pid);
    std::this_thread::sleep_for(kIdleSpan);
    const std::optional<TCpuSample> after = ReadCpu(pid);
    if (!before || !after)
        return std::nullopt;
    return *after - *before;
}

void TStartupRig::Stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(int(kStepTimeout.count()));
}
