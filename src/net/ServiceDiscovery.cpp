#include "net/ServiceDiscovery.h"

#include <QSocketNotifier>
#include <QTimer>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/timeval.h>

#include <net/if.h>
#include <poll.h>

#include <cmath>

// Avahi's event loop interface on Qt's: a watch is a pair of socket notifiers, a timeout a
// single-shot timer. Avahi may free either from inside its own callback; Qt's notifiers and
// timers allow being deleted from their own signal, so both are deleted at once.
struct AvahiWatch
{
    int Fd;
    AvahiWatchEvent Wanted;
    AvahiWatchEvent Happened = AvahiWatchEvent(0);
    AvahiWatchCallback Callback;
    void* Userdata;
    std::unique_ptr<QSocketNotifier> Read, Write;
};

struct AvahiTimeout
{
    QTimer Timer;
    AvahiTimeoutCallback Callback = nullptr;
    void* Userdata = nullptr;
};

namespace {

constexpr int kRetryMs = 5000;  // a system bus that is not there yet is asked again this often
constexpr int kMaxInstanceNameBytes = 63;  // one DNS label
constexpr int kMaxLocalCollisions = 20;

void Dispatch(AvahiWatch* w)
{
    pollfd p{w->Fd, 0, 0};
    p.events = short(((w->Wanted & AVAHI_WATCH_IN) ? POLLIN : 0) | ((w->Wanted & AVAHI_WATCH_OUT) ? POLLOUT : 0));
    if (poll(&p, 1, 0) <= 0)
        return;
    const int happened = ((p.revents & POLLIN) ? AVAHI_WATCH_IN : 0) | ((p.revents & POLLOUT) ? AVAHI_WATCH_OUT : 0)
                         | ((p.revents & POLLERR) ? AVAHI_WATCH_ERR : 0) | ((p.revents & POLLHUP) ? AVAHI_WATCH_HUP : 0);
    w->Happened = AvahiWatchEvent(happened);
    // The callback may free the watch: nothing of it is touched afterwards.
    w->Callback(w, w->Fd, w->Happened, w->Userdata);
}

void WatchUpdate(AvahiWatch* w, AvahiWatchEvent events)
{
    w->Wanted = events;
    for (auto [notifier, type, wanted] : {std::tuple(&w->Read, QSocketNotifier::Read, (events & AVAHI_WATCH_IN) != 0),
                                          std::tuple(&w->Write, QSocketNotifier::Write, (events & AVAHI_WATCH_OUT) != 0)}) {
        if (wanted && !*notifier) {
            *notifier = std::make_unique<QSocketNotifier>(w->Fd, type);
            QObject::connect(notifier->get(), &QSocketNotifier::activated, [w] { Dispatch(w); });
        }
        if (*notifier)
            (*notifier)->setEnabled(wanted);
    }
}

AvahiWatch* WatchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void* userdata)
{
    auto* w = new AvahiWatch{fd, AvahiWatchEvent(0), AvahiWatchEvent(0), callback, userdata, nullptr, nullptr};
    WatchUpdate(w, events);
    return w;
}

AvahiWatchEvent WatchGetEvents(AvahiWatch* w)
{
    return w->Happened;
}

void WatchFree(AvahiWatch* w)
{
    delete w;
}

// Avahi's times are absolute, on the wall clock it reads itself.
void TimeoutUpdate(AvahiTimeout* t, const struct timeval* tv)
{
    if (!tv) {
        t->Timer.stop();
        return;
    }
    const double remainingMs = -double(avahi_age(tv)) / 1000.0;
    t->Timer.start(std::max(0, int(std::ceil(std::min(remainingMs, 1e9)))));
}

AvahiTimeout* TimeoutNew(const AvahiPoll*, const struct timeval* tv, AvahiTimeoutCallback callback, void* userdata)
{
    auto* t = new AvahiTimeout;
    t->Callback = callback;
    t->Userdata = userdata;
    t->Timer.setSingleShot(true);
    QObject::connect(&t->Timer, &QTimer::timeout, [t] { t->Callback(t, t->Userdata); });
    TimeoutUpdate(t, tv);
    return t;
}

void TimeoutFree(AvahiTimeout* t)
{
    delete t;
}

// The player's name as a DNS-SD instance name: at most one label's bytes, cut between characters.
QByteArray InstanceName(const QString& playerName)
{
    QByteArray name = playerName.toUtf8();
    if (name.size() > kMaxInstanceNameBytes) {
        qsizetype end = kMaxInstanceNameBytes;
        while (end > 0 && (name[end] & 0xC0) == 0x80)
            --end;
        name.truncate(end);
    }
    return name;
}

QByteArray AlternativeName(const QByteArray& name)
{
    char* alternative = avahi_alternative_service_name(name.constData());
    const QByteArray result(alternative ? alternative : name.constData());
    avahi_free(alternative);
    return result;
}

bool SpeaksOurVersion(AvahiStringList* txt)
{
    AvahiStringList* entry = avahi_string_list_find(txt, "v");
    char* key = nullptr;
    char* value = nullptr;
    size_t size = 0;
    if (!entry || avahi_string_list_get_pair(entry, &key, &value, &size) < 0)
        return false;
    const bool ours = value && QByteArray(value, qsizetype(size)) == TServiceDiscovery::kProtocolVersion;
    avahi_free(key);
    avahi_free(value);
    return ours;
}

// A link-local IPv6 address only means something together with its interface.
QString AddressText(const AvahiAddress& address, AvahiIfIndex interface)
{
    char text[AVAHI_ADDRESS_STR_MAX] = {};
    avahi_address_snprint(text, sizeof text, &address);
    QString shown = QString::fromLatin1(text);
    char name[IF_NAMESIZE] = {};
    if (address.proto == AVAHI_PROTO_INET6 && shown.startsWith(u"fe80:", Qt::CaseInsensitive)
        && if_indextoname(unsigned(interface), name))
        shown += u'%' + QString::fromLocal8Bit(name);
    return shown;
}

// Which of a game's addresses the list offers: IPv4, then a routable IPv6 address, then link-local.
int Preference(const TNetworkGame& game)
{
    return !game.Address.contains(u':') ? 0 : game.Address.contains(u'%') ? 2 : 1;
}

}  // namespace

class TAvahiPoll
{
public:
    TAvahiPoll()
    {
        Api.userdata = this;
        Api.watch_new = WatchNew;
        Api.watch_update = WatchUpdate;
        Api.watch_get_events = WatchGetEvents;
        Api.watch_free = WatchFree;
        Api.timeout_new = TimeoutNew;
        Api.timeout_update = TimeoutUpdate;
        Api.timeout_free = TimeoutFree;
    }

    AvahiPoll Api{};
};

struct TAvahiCallbacks
{
    static void Client(AvahiClient* client, AvahiClientState state, void* self)
    {
        static_cast<TServiceDiscovery*>(self)->ClientStateChanged(client, state);
    }

    static void Group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self)
    {
        static_cast<TServiceDiscovery*>(self)->GroupStateChanged(group, state);
    }

    static void Browse(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol, AvahiBrowserEvent event,
                       const char* name, const char*, const char* domain, AvahiLookupResultFlags flags, void* self)
    {
        auto* browser = static_cast<TGameBrowser*>(self);
        switch (event) {
        case AVAHI_BROWSER_NEW:
            if (!(flags & AVAHI_LOOKUP_RESULT_OUR_OWN))
                browser->Add(interface, protocol, name, domain);
            break;
        case AVAHI_BROWSER_REMOVE:
            browser->Remove(interface, protocol, name, domain);
            break;
        case AVAHI_BROWSER_FAILURE:
            browser->Stop();
            emit browser->Changed();
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
        case AVAHI_BROWSER_ALL_FOR_NOW:
            break;
        }
    }

    static void Resolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiResolverEvent event, const char* name, const char*, const char*,
                        const char* hostName, const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                        AvahiLookupResultFlags, void* self)
    {
        std::optional<TNetworkGame> game;
        // An address of another family than asked for is somebody's mistake, not a way in.
        if (event == AVAHI_RESOLVER_FOUND && address && address->proto == protocol && SpeaksOurVersion(txt))
            game = TNetworkGame{QString::fromUtf8(name), QString::fromUtf8(hostName), AddressText(*address, interface), port};
        static_cast<TGameBrowser*>(self)->Resolved(resolver, game);
    }
};

TServiceDiscovery::TServiceDiscovery(QObject* parent)
    : QObject(parent)
    , Poll(std::make_unique<TAvahiPoll>())
{
    CreateClient();
}

TServiceDiscovery::~TServiceDiscovery()
{
    Withdraw();
    if (FClient)
        avahi_client_free(FClient);
}

bool TServiceDiscovery::Running() const
{
    return FRunning;
}

// With NO_FAIL the client waits for a daemon that is not running yet, and comes up when it
// starts; only a missing system bus makes the creation fail, and then it is tried again later.
void TServiceDiscovery::CreateClient()
{
    int error = 0;
    FClient = avahi_client_new(&Poll->Api, AVAHI_CLIENT_NO_FAIL, TAvahiCallbacks::Client, this, &error);
    if (FClient)
        return;
    SetRunning(false);  // it may have said it was running before it gave up
    QTimer::singleShot(kRetryMs, this, [this] {
        if (!FClient)
            CreateClient();
    });
}

void TServiceDiscovery::ClientStateChanged(AvahiClient* client, int state)
{
    FClient = client;  // the first call comes from inside avahi_client_new
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        SetRunning(true);
        Announce();
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        // The host is changing its name: our records go and come back once it has one.
        if (Group)
            avahi_entry_group_reset(Group);
        SetRunning(true);
        break;
    case AVAHI_CLIENT_CONNECTING:
        SetRunning(false);
        break;
    case AVAHI_CLIENT_FAILURE:
        ClientFailed();
        break;
    }
}

// The daemon or the bus went away: everything made through this client is dead. A new client
// waits for the daemon to come back; the old one is freed outside its own callback.
void TServiceDiscovery::ClientFailed()
{
    SetRunning(false);
    Withdraw();
    AvahiClient* dead = std::exchange(FClient, nullptr);
    QTimer::singleShot(0, this, [this, dead] {
        avahi_client_free(dead);
        if (!FClient)
            CreateClient();
    });
}

void TServiceDiscovery::SetRunning(bool running)
{
    if (FRunning == running)
        return;
    FRunning = running;
    emit RunningChanged(running);
}

void TServiceDiscovery::ListeningChanged(std::uint16_t port, const QString& playerName)
{
    Withdraw();
    Port = port;
    PlayerName = playerName;
    FAnnouncedName.clear();
    Announce();
}

void TServiceDiscovery::Announce()
{
    if (Port == 0 || !FClient || avahi_client_get_state(FClient) != AVAHI_CLIENT_S_RUNNING)
        return;
    if (!Group && !(Group = avahi_entry_group_new(FClient, TAvahiCallbacks::Group, this)))
        return;
    if (!avahi_entry_group_is_empty(Group))
        return;
    QByteArray name = FAnnouncedName.isEmpty() ? InstanceName(PlayerName) : FAnnouncedName.toUtf8();
    if (name.isEmpty())
        name = avahi_client_get_host_name(FClient);
    const QByteArray version = QByteArray("v=") + kProtocolVersion;
    // Another program on this machine may hold the name already: that shows at once.
    for (int attempt = 0; attempt < kMaxLocalCollisions; ++attempt) {
        const int result = avahi_entry_group_add_service(Group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                         name.constData(), kServiceType, nullptr, nullptr, Port,
                                                         version.constData(), nullptr);
        if (result == AVAHI_OK) {
            FAnnouncedName = QString::fromUtf8(name);
            avahi_entry_group_commit(Group);
            return;
        }
        if (result != AVAHI_ERR_COLLISION) {
            qWarning("tessaro: the game cannot be announced on the network: %s", avahi_strerror(result));
            return;
        }
        name = AlternativeName(name);
    }
}

// Another machine announces a game under the same name: take the next name and announce again.
void TServiceDiscovery::GroupStateChanged(AvahiEntryGroup* group, int state)
{
    if (group != Group || state != AVAHI_ENTRY_GROUP_COLLISION)
        return;
    FAnnouncedName = QString::fromUtf8(AlternativeName(FAnnouncedName.toUtf8()));
    avahi_entry_group_reset(Group);
    Announce();
}

// Freeing the group takes its records off the network at once (the daemon says goodbye).
void TServiceDiscovery::Withdraw()
{
    if (Group)
        avahi_entry_group_free(std::exchange(Group, nullptr));
}

TGameBrowser::TGameBrowser(TServiceDiscovery& discovery, QObject* parent)
    : QObject(parent)
    , Discovery(discovery)
{
    connect(&Discovery, &TServiceDiscovery::RunningChanged, this, &TGameBrowser::Start);
    Start(Discovery.Running());
}

TGameBrowser::~TGameBrowser()
{
    Stop();
}

void TGameBrowser::Start(bool running)
{
    if (!running) {
        Stop();
    } else if (!Browser && Discovery.Client()) {
        Browser = avahi_service_browser_new(Discovery.Client(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                            TServiceDiscovery::kServiceType, nullptr, AvahiLookupFlags(0),
                                            TAvahiCallbacks::Browse, this);
    }
    emit Changed();
}

void TGameBrowser::Stop()
{
    for (auto& [key, service] : Services)
        for (auto& [sighting, resolver] : service.Resolving)
            if (resolver)
                avahi_service_resolver_free(resolver);
    Services.clear();
    if (Browser)
        avahi_service_browser_free(std::exchange(Browser, nullptr));
}

void TGameBrowser::Add(int interface, int protocol, const char* name, const char* domain)
{
    const TServiceKey key{QByteArray(name), QByteArray(domain)};
    const TSighting sighting{interface, protocol};
    const auto known = Services.find(key);
    if (known == Services.end() ? int(Services.size()) >= kMaxServices
                                : known->second.Resolving.contains(sighting) || known->second.Found.contains(sighting))
        return;
    AvahiServiceResolver* resolver = avahi_service_resolver_new(
        Discovery.Client(), interface, protocol, name, TServiceDiscovery::kServiceType, domain, protocol,
        AvahiLookupFlags(0), TAvahiCallbacks::Resolve, this);
    if (resolver)
        Services[key].Resolving[sighting] = resolver;
}

void TGameBrowser::Remove(int interface, int protocol, const char* name, const char* domain)
{
    const auto known = Services.find({QByteArray(name), QByteArray(domain)});
    if (known == Services.end())
        return;
    TService& service = known->second;
    if (const auto resolving = service.Resolving.find({interface, protocol}); resolving != service.Resolving.end()) {
        if (resolving->second)
            avahi_service_resolver_free(resolving->second);
        service.Resolving.erase(resolving);
    }
    service.Found.erase({interface, protocol});
    if (service.Resolving.empty() && service.Found.empty())
        Services.erase(known);
    emit Changed();
}

// A resolver that failed, or found something not to list, keeps its place (so it is not asked
// again at every repeat of the announcement) until the announcement goes. The resolver is found
// by itself: the names it reports need not be spelt as the browser's were.
void TGameBrowser::Resolved(AvahiServiceResolver* resolver, const std::optional<TNetworkGame>& game)
{
    avahi_service_resolver_free(resolver);
    for (auto& [key, service] : Services)
        for (auto pending = service.Resolving.begin(); pending != service.Resolving.end(); ++pending)
            if (pending->second == resolver) {
                pending->second = nullptr;
                if (game) {
                    service.Found[pending->first] = *game;
                    service.Resolving.erase(pending);
                }
                emit Changed();
                return;
            }
}

QList<TNetworkGame> TGameBrowser::Games() const
{
    QList<TNetworkGame> games;
    for (const auto& [key, service] : Services) {
        const TNetworkGame* best = nullptr;
        for (const auto& [sighting, game] : service.Found)
            if (!best || Preference(game) < Preference(*best))
                best = &game;
        if (best)
            games.append(*best);
    }
    return games;
}
