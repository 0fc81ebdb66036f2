#include "net/PortMapper.h"

#include <QMetaObject>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>
#include <natpmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr QStringView kPublicAddress = u":: Adresse Internet: %1 port %2";
constexpr QStringView kNoRouter = u":: Routeur: pas d'ouverture automatique (ouvrez le port %1 à la main)";
constexpr QStringView kPrivateAddress =
    u":: Routeur: port %2 ouvert, mais son adresse %1 est privée ou partagée: "
    u"on ne peut pas vous joindre depuis Internet";
constexpr QStringView kUnknownAddress = u":: Routeur: port %1 ouvert, mais il ne donne pas d'adresse Internet valable";
constexpr QStringView kLost = u":: Routeur: le port %1 n'est plus ouvert sur Internet";

constexpr const char* kDescription = "Tessaro";
constexpr std::uint32_t kLeaseSeconds = 3600;
// A lease the router shortens is still renewed at half its length, but not more often than this.
constexpr std::uint32_t kShortestRenewal = 10;
constexpr int kDiscoveryMs = 1500;
// Over IPv6 a silent search costs its delay twice, link-local then site-local.
constexpr int kDiscoveryMs6 = 750;
constexpr auto kSearchAgain = 10s;
// Leaves time for NAT-PMP after a silent UPnP search, within the notice delay.
constexpr auto kAnswerBudget = 4500ms;
constexpr auto kNatPmpRemoval = 500ms;
constexpr int kMaxListedMappings = 512;
constexpr int kPortAttempts = 3;
// The UPnP error of a router that takes no lease but a permanent one.
constexpr int kOnlyPermanentLeases = 725;
// Not a UPnP error: an IPv6 firewall that lets everything in, or nothing whatever we ask.
constexpr int kFirewallClosed = 1;

bool ParsePort(const char* text, std::uint16_t* port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value <= 0 || value > 65535)
        return false;
    *port = std::uint16_t(value);
    return true;
}

// The external address as the other player may use it; empty where the router's text is no IPv4
// address, or the "none" of a router that has none.
QString ExternalAddress(const char* text)
{
    in_addr address{};
    return inet_pton(AF_INET, text, &address) == 1 && address.s_addr != 0 ? QString::fromLatin1(text) : QString();
}

// RFC 1918, RFC 6598 shared space, and what no router should call external.
bool Unreachable(const QString& text)
{
    in_addr address{};
    inet_pton(AF_INET, text.toLatin1().constData(), &address);
    const std::uint32_t a = ntohl(address.s_addr);
    const auto in = [a](std::uint32_t net, int bits) { return (a >> (32 - bits)) == (net >> (32 - bits)); };
    return in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) || in(0x64400000, 10) || in(0x7F000000, 8)
        || in(0xA9FE0000, 16) || in(0, 8) || a >= 0xE0000000;
}

QString PublicNotice(const QString& address, std::uint16_t external)
{
    if (address.isEmpty())
        return kUnknownAddress.arg(QString::number(external));
    if (Unreachable(address))
        return kPrivateAddress.arg(address).arg(external);
    return kPublicAddress.arg(address).arg(external);
}

// A listener of ours or of another copy of the program still uses the port: its mapping is not stale.
bool PortListened(std::uint16_t port)
{
    const int s = socket(AF_INET6, SOCK_STREAM, 0);
    if (s < 0)
        return true;
    const int off = 0, on = 1;
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in6 any{};
    any.sin6_family = AF_INET6;
    any.sin6_port = htons(port);
    const bool taken = bind(s, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 && errno == EADDRINUSE;
    close(s);
    return taken;
}

bool GlobalIPv6(const in6_addr& a)
{
    return (a.s6_addr[0] & 0xE0) == 0x20;
}

// A global IPv6 address of this machine, the one a pinhole opens for.
std::string OwnGlobalIPv6()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    std::string found;
    for (const ifaddrs* i = list; i && found.empty(); i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET6) {
            const in6_addr& a = reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr;
            char text[INET6_ADDRSTRLEN] = {};
            if (GlobalIPv6(a) && inet_ntop(AF_INET6, &a, text, sizeof text))
                found = text;
        }
    freeifaddrs(list);
    return found;
}

// One gateway found by a UPnP search, with what it reported about us.
struct TIgd
{
    UPNPUrls Urls{};
    IGDdatas Data{};
    char LanAddress[64] = {};
    bool Found = false;
    std::optional<TClock::time_point> SearchedAt;

    TIgd() = default;
    TIgd(const TIgd&) = delete;
    TIgd& operator=(const TIgd&) = delete;
    ~TIgd() { Forget(); }

    void Forget()
    {
        if (Found)
            FreeUPNPUrls(&Urls);
        Urls = {};
        Found = false;
    }

    bool Discover(bool ipv6)
    {
        Forget();
        SearchedAt = TClock::now();
        int error = 0;
        // One search: each kind searched for costs the whole delay where nothing answers. An IGD of
        // any version answers a search for the first.
        UPNPDev* devices = upnpDiscoverDevice("urn:schemas-upnp-org:device:InternetGatewayDevice:1",
                                              ipv6 ? kDiscoveryMs6 : kDiscoveryMs, nullptr, nullptr,
                                              UPNP_LOCAL_PORT_ANY, ipv6 ? 1 : 0, 2, &error);
        if (!devices)
            return false;
        const int valid = UPNP_GetValidIGD(devices, &Urls, &Data, LanAddress, sizeof LanAddress);
        freeUPNPDevlist(devices);
        // 1: connected, 2: not connected (its external address will say so); 3: not an IGD.
        Found = valid == 1 || valid == 2;
        if (!Found && valid != 0)
            FreeUPNPUrls(&Urls);
        LanAddress[sizeof LanAddress - 1] = '\0';
        return Found;
    }
    // A search that found nothing a moment ago is not repeated at once: it would cost its whole delay again.
    bool Absent() const { return !Found && SearchedAt && TClock::now() - *SearchedAt < kSearchAgain; }
    const char* Control() const { return Urls.controlURL; }
    const char* Service() const { return Data.first.servicetype; }
    const char* Control6() const { return Urls.controlURL_6FC; }
    const char* Service6() const { return Data.IPv6FC.servicetype; }
};

// What is open on the router for the current listener.
struct TMapping
{
    enum TKind { mkNone, mkUpnp, mkNatPmp } Kind = mkNone;
    std::uint16_t Internal = 0, External = 0;
    std::uint32_t Lease = kLeaseSeconds;
    std::string PinholeId;
    TClock::time_point Renewal;

    bool Active() const { return Kind != mkNone || !PinholeId.empty(); }
};

}  // namespace

// What the window and the worker share. The worker holds it too, so a worker let go on quit
// never reaches freed memory.
struct TGatewayShared
{
    std::mutex Mutex;
    std::condition_variable Wake, Done;
    std::uint16_t WantedPort = 0;
    quint64 WantedGeneration = 0;
    bool Quit = false;
    bool Finished = false;
    QObject* Receiver = nullptr;  // cleared by the window's side before it goes

    void Post(quint64 generation, const QString& line)
    {
        const std::lock_guard lock(Mutex);
        if (Receiver)
            QMetaObject::invokeMethod(Receiver, "Report", Qt::QueuedConnection, Q_ARG(quint64, generation),
                                      Q_ARG(QString, line));
    }
    bool StillWanted(quint64 generation)
    {
        const std::lock_guard lock(Mutex);
        return !Quit && WantedGeneration == generation;
    }
    bool Quitting()
    {
        const std::lock_guard lock(Mutex);
        return Quit;
    }
};

namespace {

class TGatewayWorker
{
public:
    explicit TGatewayWorker(std::shared_ptr<TGatewayShared> shared) : Shared(std::move(shared)) {}
    ~TGatewayWorker() { CloseNatPmp(); }

    void Run()
    {
        RemoveStale();
        std::string own;
        if (!Shared->Quitting())
            FindIgd6(&own);
        std::unique_lock lock(Shared->Mutex);
        for (;;) {
            const quint64 generation = Shared->WantedGeneration;
            if (generation != Generation || (Shared->Quit && Mapping.Active())) {
                const std::uint16_t port = Shared->Quit ? 0 : Shared->WantedPort;
                lock.unlock();
                Remove();
                Generation = generation;
                if (port != 0)
                    Add(port, generation);
                lock.lock();
                continue;
            }
            if (Shared->Quit)
                break;
            if (!Mapping.Active()) {
                Shared->Wake.wait(lock);
            } else if (Shared->Wake.wait_until(lock, Mapping.Renewal) == std::cv_status::timeout
                       && Shared->WantedGeneration == Generation && !Shared->Quit) {
                lock.unlock();
                Renew(generation);
                lock.lock();
            }
        }
        Shared->Finished = true;
        Shared->Done.notify_all();
    }

private:
    std::shared_ptr<TGatewayShared> Shared;
    quint64 Generation = 0;
    TIgd Igd, Igd6;
    TMapping Mapping;
    natpmp_t NatPmp{};
    bool NatPmpOpen = false;
    QString PublicAddress;  // as the router reports it; empty where that is no IPv4 address

    void Add(std::uint16_t port, quint64 generation)
    {
        const TClock::time_point deadline = TClock::now() + kAnswerBudget;
        if (!AddUpnp(port, generation) && Shared->StillWanted(generation))
            AddNatPmp(port, deadline);
        if (!Shared->StillWanted(generation))
            return;  // the loop takes back whatever just opened
        if (Mapping.Kind == TMapping::mkNone)
            Shared->Post(generation, kNoRouter.arg(QString::number(port)));
        else
            Shared->Post(generation, PublicNotice(PublicAddress, Mapping.External));
        AddPinhole(port, generation);
    }

    bool AddUpnp(std::uint16_t port, quint64 generation)
    {
        if (!Igd.Found && (Igd.Absent() || !Igd.Discover(false)))
            return false;
        int result = TryUpnpPorts(port);
        // A router that restarted or moved answers no more at the old address: search once again.
        if (result < 0 && Shared->StillWanted(generation) && Igd.Discover(false))
            result = TryUpnpPorts(port);
        if (result != UPNPCOMMAND_SUCCESS)
            return false;
        char external[40] = {};
        PublicAddress = UPNP_GetExternalIPAddress(Igd.Control(), Igd.Service(), external) == UPNPCOMMAND_SUCCESS
            ? ExternalAddress(external)
            : QString();
        return true;
    }

    // The same external port, else one the router picks, else a few of our own choosing.
    int TryUpnpPorts(std::uint16_t port)
    {
        int result = AddUpnpMapping(port, port);
        if (result > 0) {
            char reserved[8] = {};
            std::uint16_t chosen = 0;
            const std::string internal = std::to_string(port);
            if (UPNP_AddAnyPortMapping(Igd.Control(), Igd.Service(), internal.c_str(), internal.c_str(),
                                       Igd.LanAddress, kDescription, "TCP", nullptr, "3600", reserved)
                    == UPNPCOMMAND_SUCCESS
                && ParsePort(reserved, &chosen)) {
                Opened(TMapping::mkUpnp, port, chosen, kLeaseSeconds);
                return UPNPCOMMAND_SUCCESS;
            }
            std::minstd_rand random(std::random_device{}());
            for (int attempt = 0; attempt < kPortAttempts && result > 0; ++attempt)
                result = AddUpnpMapping(port, std::uint16_t(1024 + random() % (65536 - 1024)));
        }
        return result;
    }

    int AddUpnpMapping(std::uint16_t internal, std::uint16_t external)
    {
        const std::string in = std::to_string(internal), ex = std::to_string(external);
        std::uint32_t lease = kLeaseSeconds;
        int result = UPNP_AddPortMapping(Igd.Control(), Igd.Service(), ex.c_str(), in.c_str(), Igd.LanAddress,
                                         kDescription, "TCP", nullptr, "3600");
        if (result == kOnlyPermanentLeases) {
            lease = 0;
            result = UPNP_AddPortMapping(Igd.Control(), Igd.Service(), ex.c_str(), in.c_str(), Igd.LanAddress,
                                         kDescription, "TCP", nullptr, "0");
        }
        if (result == UPNPCOMMAND_SUCCESS)
            Opened(TMapping::mkUpnp, internal, external, lease);
        return result;
    }

    void Opened(TMapping::TKind kind, std::uint16_t internal, std::uint16_t external, std::uint32_t lease)
    {
        Mapping.Kind = kind;
        Mapping.Internal = internal;
        Mapping.External = external;
        Mapping.Lease = lease;
        // At half the lease, whatever the router granted; a permanent one (0) is renewed all the same.
        const std::uint32_t renewal =
            std::clamp(lease == 0 ? kLeaseSeconds : lease / 2, kShortestRenewal, kLeaseSeconds / 2);
        Mapping.Renewal = TClock::now() + std::chrono::seconds(renewal);
    }

    // Waits for the gateway's answer to the pending request, resending as libnatpmp schedules it.
    bool NatPmpAnswer(natpmpresp_t* response, TClock::time_point deadline)
    {
        for (;;) {
            const int result = readnatpmpresponseorretry(&NatPmp, response);
            if (result != NATPMP_TRYAGAIN)
                return result == 0;
            timeval retry{};
            if (getnatpmprequesttimeout(&NatPmp, &retry) != 0)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
            if (left <= 0)
                return false;
            const long wait = std::clamp<long>(retry.tv_sec * 1000 + retry.tv_usec / 1000, 1, long(left));
            pollfd socket{NatPmp.s, POLLIN, 0};
            poll(&socket, 1, int(wait));
        }
    }

    bool NatPmpMap(std::uint16_t internal, std::uint16_t external, std::uint32_t lease, TClock::time_point deadline,
                   natpmpresp_t* response)
    {
        return sendnewportmappingrequest(&NatPmp, NATPMP_PROTOCOL_TCP, internal, external, lease) >= 0
            && NatPmpAnswer(response, deadline) && response->type == NATPMP_RESPTYPE_TCPPORTMAPPING
            && response->pnu.newportmapping.privateport == internal;
    }

    void AddNatPmp(std::uint16_t port, TClock::time_point deadline)
    {
        CloseNatPmp();
        if (initnatpmp(&NatPmp, 0, 0) != 0)
            return;
        NatPmpOpen = true;
        natpmpresp_t response{};
        if (sendpublicaddressrequest(&NatPmp) < 0 || !NatPmpAnswer(&response, deadline)
            || response.type != NATPMP_RESPTYPE_PUBLICADDRESS) {
            CloseNatPmp();
            return;
        }
        char text[INET_ADDRSTRLEN] = {};
        const bool written = inet_ntop(AF_INET, &response.pnu.publicaddress.addr, text, sizeof text);
        PublicAddress = ExternalAddress(written ? text : "");
        if (!NatPmpMap(port, port, kLeaseSeconds, deadline, &response)
            || response.pnu.newportmapping.mappedpublicport == 0 || response.pnu.newportmapping.lifetime == 0) {
            CloseNatPmp();
            return;
        }
        Opened(TMapping::mkNatPmp, port, response.pnu.newportmapping.mappedpublicport,
               response.pnu.newportmapping.lifetime);
    }

    void CloseNatPmp()
    {
        if (NatPmpOpen)
            closenatpmp(&NatPmp);
        NatPmpOpen = false;
    }

    // Found over IPv6, so that a router in secure mode sees the request come from the address
    // the pinhole is for. Searched for once, at start-up where this machine has such an address.
    bool FindIgd6(std::string* own)
    {
        *own = OwnGlobalIPv6();
        if (own->empty() || (!Igd6.Found && (Igd6.Absent() || !Igd6.Discover(true)))
            || Igd6.Data.IPv6FC.controlurl[0] == '\0')
            return false;
        in6_addr seen{};
        if (inet_pton(AF_INET6, Igd6.LanAddress, &seen) == 1 && GlobalIPv6(seen))
            *own = Igd6.LanAddress;
        return true;
    }

    int AddPinhole(const std::string& own, std::uint16_t port)
    {
        int enabled = 0, allowed = 0;
        const int status = UPNP_GetFirewallStatus(Igd6.Control6(), Igd6.Service6(), &enabled, &allowed);
        if (status != UPNPCOMMAND_SUCCESS || !enabled || !allowed)
            return status == UPNPCOMMAND_SUCCESS ? kFirewallClosed : status;
        char id[16] = {};
        const std::string internal = std::to_string(port);
        const int result = UPNP_AddPinhole(Igd6.Control6(), Igd6.Service6(), "empty", "empty",
                                           own.c_str(), internal.c_str(), "6", "3600", id);
        if (result == UPNPCOMMAND_SUCCESS)
            Mapping.PinholeId = id;
        return result;
    }

    void AddPinhole(std::uint16_t port, quint64 generation)
    {
        std::string own;
        if (!FindIgd6(&own))
            return;
        int result = AddPinhole(own, port);
        if (result < 0 && Shared->StillWanted(generation)
            && Igd6.Discover(true))
            result = AddPinhole(own, port);
        if (result != UPNPCOMMAND_SUCCESS)
            return;
        if (Mapping.Kind == TMapping::mkNone)
            Opened(TMapping::mkNone, port, port, kLeaseSeconds);
        Shared->Post(generation, kPublicAddress.arg(QString::fromStdString(own)).arg(port));
    }

    void Renew(quint64 generation)
    {
        bool kept = true;
        if (Mapping.Kind == TMapping::mkUpnp) {
            const std::uint16_t internal = Mapping.Internal, external = Mapping.External;
            kept = AddUpnpMapping(internal, external) == UPNPCOMMAND_SUCCESS
                || (Igd.Discover(false) && AddUpnpMapping(internal, external) == UPNPCOMMAND_SUCCESS);
        } else if (Mapping.Kind == TMapping::mkNatPmp) {
            natpmpresp_t response{};
            kept = NatPmpMap(Mapping.Internal, Mapping.External, kLeaseSeconds, TClock::now() + kAnswerBudget,
                             &response)
                && response.pnu.newportmapping.mappedpublicport == Mapping.External
                && response.pnu.newportmapping.lifetime != 0;
            if (kept)
                Opened(TMapping::mkNatPmp, Mapping.Internal, Mapping.External, response.pnu.newportmapping.lifetime);
        }
        if (!Mapping.PinholeId.empty()) {
            if (UPNP_UpdatePinhole(Igd6.Control6(), Igd6.Service6(), Mapping.PinholeId.c_str(), "3600") != 0)
                Mapping.PinholeId.clear();
            if (Mapping.Kind == TMapping::mkNone)
                Opened(TMapping::mkNone, Mapping.Internal, Mapping.External, kLeaseSeconds);
        }
        if (!kept) {
            const std::uint16_t external = Mapping.External;
            Mapping.Kind = TMapping::mkNone;
            Shared->Post(generation, kLost.arg(QString::number(external)));
        }
        if (!Mapping.Active())
            Mapping = {};
    }

    void Remove()
    {
        if (Mapping.Kind == TMapping::mkUpnp) {
            const std::string external = std::to_string(Mapping.External);
            UPNP_DeletePortMapping(Igd.Control(), Igd.Service(), external.c_str(), "TCP", nullptr);
        } else if (Mapping.Kind == TMapping::mkNatPmp) {
            natpmpresp_t response{};
            NatPmpMap(Mapping.Internal, Mapping.External, 0, TClock::now() + kNatPmpRemoval, &response);
            CloseNatPmp();
        }
        if (!Mapping.PinholeId.empty())
            UPNP_DeletePinhole(Igd6.Control6(), Igd6.Service6(), Mapping.PinholeId.c_str());
        Mapping = {};
        PublicAddress.clear();
    }

    // A mapping of ours that a run which crashed left open, for a port nothing listens on now.
    void RemoveStale()
    {
        if (Shared->Quitting() || !Igd.Discover(false))
            return;
        for (int index = 0; index < kMaxListedMappings && !Shared->Quitting();) {
            char external[8] = {}, client[64] = {}, internal[8] = {}, protocol[8] = {}, description[96] = {},
                 enabled[8] = {}, remote[72] = {}, duration[24] = {};
            const std::string at = std::to_string(index);
            if (UPNP_GetGenericPortMappingEntry(Igd.Control(), Igd.Service(), at.c_str(), external, client, internal,
                                                protocol, description, enabled, remote, duration)
                != UPNPCOMMAND_SUCCESS)
                return;
            std::uint16_t port = 0;
            if (std::strcmp(description, kDescription) == 0 && std::strcmp(client, Igd.LanAddress) == 0
                && std::strcmp(protocol, "TCP") == 0 && ParsePort(internal, &port) && !PortListened(port)
                && UPNP_DeletePortMapping(Igd.Control(), Igd.Service(), external, "TCP", nullptr)
                       == UPNPCOMMAND_SUCCESS)
                continue;  // the next entry now has this index
            ++index;
        }
    }
};

}  // namespace

TPortMapper::TPortMapper(TNotice notice, QObject* parent)
    : QObject(parent)
    , Notice(std::move(notice))
{
    NoAnswer.setSingleShot(true);
    NoAnswer.setInterval(kNoticeDelayMs);
    connect(&NoAnswer, &QTimer::timeout, this, [this] { Report(Generation, kNoRouter.arg(QString::number(Port))); });
    if (!Enabled())
        return;
    Shared = std::make_shared<TGatewayShared>();
    Shared->Receiver = this;
    std::thread([shared = Shared] { TGatewayWorker(shared).Run(); }).detach();
}

TPortMapper::~TPortMapper()
{
    if (!Shared)
        return;
    std::unique_lock lock(Shared->Mutex);
    Shared->Receiver = nullptr;
    Shared->Quit = true;
    Shared->Wake.notify_all();
    // A worker still busy past this is stuck with a router that does not answer: it is left to
    // finish on its own, holding only what it shares with no one else.
    Shared->Done.wait_for(lock, std::chrono::milliseconds(kQuitGraceMs), [this] { return Shared->Finished; });
}

bool TPortMapper::Enabled()
{
    return qEnvironmentVariable("TESSARO_PORT_MAPPING") != QLatin1String("off");
}

void TPortMapper::ListeningChanged(std::uint16_t port)
{
    Port = port;
    ++Generation;
    Answered = false;
    if (port != 0 && Shared)
        NoAnswer.start();
    else
        NoAnswer.stop();
    if (!Shared)
        return;
    const std::lock_guard lock(Shared->Mutex);
    Shared->WantedPort = port;
    Shared->WantedGeneration = Generation;
    Shared->Wake.notify_all();
}

void TPortMapper::Report(quint64 generation, const QString& line)
{
    if (generation != Generation || Port == 0)
        return;
    // The worker's own "no router" after the timer's says nothing new.
    const bool noRouter = line == kNoRouter.arg(QString::number(Port));
    if (noRouter && Answered)
        return;
    NoAnswer.stop();
    Answered = true;
    if (Notice)
        Notice(line);
}
