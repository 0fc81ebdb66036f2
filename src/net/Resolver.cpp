#include "net/Resolver.h"

#include "net/SocketErrors.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netdb.h>
#include <unistd.h>

namespace {

// The C spelling of a text for the name services; nullopt when a NUL would cut it short.
std::optional<QByteArray> CName(const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    if (bytes.contains('\0'))
        return std::nullopt;
    return bytes;
}

struct TAddrInfoDeleter
{
    void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

struct TIfAddrsDeleter
{
    void operator()(ifaddrs* list) const { freeifaddrs(list); }
};

using TAddrInfo = std::unique_ptr<addrinfo, TAddrInfoDeleter>;

// getaddrinfo for stream sockets; null, with the Winsock error in *wsaError when asked, if the
// name does not resolve.
TAddrInfo AddrInfo(const QString& name, int family, int flags, int* wsaError = nullptr)
{
    const auto cname = CName(name);
    if (!cname) {
        if (wsaError)
            *wsaError = WSAHOST_NOT_FOUND;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    if (const int result = getaddrinfo(cname->constData(), nullptr, &hints, &list); result != 0) {
        if (wsaError)
            *wsaError = WsaErrorFromResolver(result, errno);
        return nullptr;
    }
    return TAddrInfo(list);
}

// A written address of one family only (with an IPv6 zone such as "%eth0" when given).
std::optional<TSocketAddress> NumericAddress(const QString& text, int family)
{
    const TAddrInfo list = AddrInfo(text, family, AI_NUMERICHOST);
    if (!list)
        return std::nullopt;
    const TSocketAddress address = TSocketAddress::FromSystem(list->ai_addr, list->ai_addrlen);
    return address.IsEmpty() ? std::nullopt : std::optional(address);
}

}  // namespace

std::optional<TSocketAddress> TResolver::AddressLiteral(const QString& text)
{
    const bool bracketed = text.size() > 2 && text.startsWith(u'[') && text.endsWith(u']');
    const QString inner = bracketed ? text.sliced(1, text.size() - 2) : text;
    if (const std::optional<std::uint32_t> dotted = InetAddr(inner)) {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = *dotted;
        return v4;
    }
    if (!inner.contains(u':'))
        return std::nullopt;
    return NumericAddress(inner, AF_INET6);
}

QList<TSocketAddress> TResolver::LookUpHost(const QString& name, int* wsaError)
{
    const TAddrInfo list = AddrInfo(name, AF_UNSPEC, 0, wsaError);
    QList<TSocketAddress> addresses;
    for (const addrinfo* info = list.get(); info; info = info->ai_next) {
        const TSocketAddress address = TSocketAddress::FromSystem(info->ai_addr, info->ai_addrlen);
        if (!address.IsEmpty() && !addresses.contains(address))
            addresses.append(address);
    }
    return addresses;
}

TInterfaceList TResolver::InterfaceAddresses()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return {};
    const std::unique_ptr<ifaddrs, TIfAddrsDeleter> owner(list);
    TInterfaceList result;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr)
            continue;
        const socklen_t length = entry->ifa_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        const TSocketAddress address = TSocketAddress::FromSystem(entry->ifa_addr, length);
        if (!address.IsEmpty())
            result.append({address, (entry->ifa_flags & IFF_UP) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    return result;
}

std::optional<std::uint32_t> TResolver::InetAddr(const QString& text)
{
    const auto name = CName(text);
    in_addr address{};
    if (!name || inet_aton(name->constData(), &address) == 0)
        return std::nullopt;
    return address.s_addr;
}

QString TResolver::InetNtoa(std::uint32_t address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    return QString::fromLatin1(text);
}

std::optional<THostEntry> TResolver::GetHostByName(const QString& name, int* wsaError)
{
    const TAddrInfo list = AddrInfo(name, AF_INET, AI_CANONNAME, wsaError);
    if (!list)
        return std::nullopt;
    THostEntry entry;
    entry.Name = list->ai_canonname ? QString::fromLocal8Bit(list->ai_canonname) : name;
    for (const addrinfo* info = list.get(); info; info = info->ai_next) {
        if (info->ai_family == AF_INET && info->ai_addrlen >= sizeof(sockaddr_in)) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(info->ai_addr);
            entry.Addresses.append(in->sin_addr.s_addr);
        }
    }
    return entry;
}

std::optional<std::uint16_t> TResolver::GetServByName(const QString& name)
{
    const auto cname = CName(name);
    if (!cname || cname->isEmpty())
        return std::nullopt;
    const servent* service = getservbyname(cname->constData(), "tcp");
    if (!service)
        return std::nullopt;
    return ntohs(static_cast<std::uint16_t>(service->s_port));
}

std::optional<int> TResolver::GetProtoByName(const QString& name)
{
    const auto cname = CName(name);
    if (!cname)
        return std::nullopt;
    const protoent* protocol = getprotobyname(cname->constData());
    if (!protocol)
        return std::nullopt;
    return protocol->p_proto;
}

std::optional<QString> TResolver::GetHostName()
{
    char name[1024] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(name);
}
