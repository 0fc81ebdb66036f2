#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiServiceBrowser;
struct AvahiServiceResolver;
class TAvahiPoll;

// Games on the local network through the desktop's mDNS/DNS-SD daemon (Avahi), driven by the
// GUI thread's event loop. One client per program, so the browser can tell this program's own
// announcement from the others. Nothing here ever waits for the daemon: without it the program
// simply announces nothing and finds nothing, and picks up again when the daemon comes back.
class TServiceDiscovery : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kServiceType = "_tessaro._tcp";
    static constexpr const char* kProtocolVersion = "1000";  // the TXT record's v=

    explicit TServiceDiscovery(QObject* parent = nullptr);
    ~TServiceDiscovery() override;

    // Announces a game on this port under the player's name while it is non-zero; 0 withdraws it.
    void ListeningChanged(std::uint16_t port, const QString& playerName);

    AvahiClient* Client() const { return FClient; }
    bool Running() const;  // the daemon answers: browsing and announcing are possible
    QString AnnouncedName() const { return FAnnouncedName; }

signals:
    // The daemon came or went; browsers drop everything of the old client when it goes.
    void RunningChanged(bool running);

private:
    friend struct TAvahiCallbacks;
    void ClientStateChanged(AvahiClient* client, int state);
    void GroupStateChanged(AvahiEntryGroup* group, int state);
    void CreateClient();
    void ClientFailed();
    void Announce();
    void Withdraw();
    void SetRunning(bool running);

    std::unique_ptr<TAvahiPoll> Poll;
    AvahiClient* FClient = nullptr;
    AvahiEntryGroup* Group = nullptr;
    std::uint16_t Port = 0;
    QString PlayerName;
    QString FAnnouncedName;  // the player's name, or the alternative the daemon settled on
    bool FRunning = false;
};

// A game found on the network, as the list shows it and the connect path takes it.
struct TNetworkGame
{
    QString Name;      // the player's name, as announced
    QString HostName;  // the machine's mDNS name
    QString Address;   // numeric, with the interface for an IPv6 link-local address
    std::uint16_t Port = 0;
};

// The games announced on the network, kept live while it exists. The program's own listener
// is never among them. Announcements are input from anyone on the network: their number is
// capped, and one that does not speak this protocol's version is not listed.
class TGameBrowser : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxServices = 200;

    explicit TGameBrowser(TServiceDiscovery& discovery, QObject* parent = nullptr);
    ~TGameBrowser() override;

    bool Unavailable() const { return !Browser; }  // no daemon answering: nothing can be found
    QList<TNetworkGame> Games() const;

signals:
    void Changed();

private:
    // One announcement seen on one interface with one protocol; a game may have several.
    using TSighting = std::pair<int, int>;
    struct TService
    {
        std::map<TSighting, AvahiServiceResolver*> Resolving;  // null: resolved, nothing to list
        std::map<TSighting, TNetworkGame> Found;
    };
    using TServiceKey = std::pair<QByteArray, QByteArray>;  // instance name, domain

    friend struct TAvahiCallbacks;
    void Start(bool running);
    void Stop();
    void Add(int interface, int protocol, const char* name, const char* domain);
    void Remove(int interface, int protocol, const char* name, const char* domain);
    void Resolved(AvahiServiceResolver* resolver, const std::optional<TNetworkGame>& game);

    TServiceDiscovery& Discovery;
    AvahiServiceBrowser* Browser = nullptr;
    std::map<TServiceKey, TService> Services;
};
