#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

struct TGatewayShared;

// Asks the router to let the Internet reach the listening port: a UPnP IGD port mapping (or a
// NAT-PMP one where no IGD answers) and, for IPv6, a pinhole in the router's firewall. The router
// is slow or silent at times, so all of it happens on a worker thread; the window never waits,
// and hears back through chat lines. Whatever was opened is closed when listening ends, when the
// program quits, and at the next start after a crash.
class TPortMapper : public QObject
{
    Q_OBJECT

public:
    using TNotice = std::function<void(const QString&)>;

    // Without an answer by then, the player is told to open the port by hand.
    static constexpr int kNoticeDelayMs = 5000;
    // On quit the router gets this long to take the mapping back.
    static constexpr int kQuitGraceMs = 1000;

    explicit TPortMapper(TNotice notice, QObject* parent = nullptr);
    ~TPortMapper() override;
    TPortMapper(const TPortMapper&) = delete;
    TPortMapper& operator=(const TPortMapper&) = delete;

    // The port that listens for peers from other machines, or 0 when none does.
    void ListeningChanged(std::uint16_t port);

    // TESSARO_PORT_MAPPING=off leaves the router alone (tests on a shared network set it).
    static bool Enabled();

private:
    Q_INVOKABLE void Report(quint64 generation, const QString& line);

    TNotice Notice;
    std::shared_ptr<TGatewayShared> Shared;
    QTimer NoAnswer;
    std::uint16_t Port = 0;
    quint64 Generation = 0;
    bool Answered = false;
};
