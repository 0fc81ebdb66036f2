#include "net/Resolver.h"

#include "net/SocketErrors.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <memory>
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

}  // namespace

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
    const auto cname = CName(name);
    if (!cname) {
        if (wsaError)
            *wsaError = WSAHOST_NOT_FOUND;
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    const int result = getaddrinfo(cname->constData(), nullptr, &hints, &list);
    if (result != 0) {
        if (wsaError)
            *wsaError = WsaErrorFromResolver(result, errno);
        return std::nullopt;
    }
    const std::unique_ptr<addrinfo, TAddrInfoDeleter> owner(list);
    THostEntry entry;
    entry.Name = list->ai_canonname ? QString::fromLocal8Bit(list->ai_canonname) : name;
    for (const addrinfo* info = list; info; info = info->ai_next) {
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
