#include "net/SocketAddress.h"

#include <arpa/inet.h>
#include <cstring>

TSocketAddress::TSocketAddress(const sockaddr_in& address)
    : Size(sizeof address)
{
    std::memcpy(&Storage, &address, sizeof address);
}

TSocketAddress::TSocketAddress(const sockaddr_in6& address)
    : Size(sizeof address)
{
    std::memcpy(&Storage, &address, sizeof address);
}

TSocketAddress TSocketAddress::FromSystem(const sockaddr* address, socklen_t length)
{
    if (address && address->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in)))
        return *reinterpret_cast<const sockaddr_in*>(address);
    if (address && address->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6)))
        return *reinterpret_cast<const sockaddr_in6*>(address);
    return {};
}

TSocketAddress TSocketAddress::Any(int family, std::uint16_t port)
{
    if (family == AF_INET6) {
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        any.sin6_port = htons(port);
        return any;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = htons(port);
    return any;
}

std::uint16_t TSocketAddress::Port() const
{
    if (Family() == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in&>(Storage).sin_port);
    if (Family() == AF_INET6)
        return ntohs(V6().sin6_port);
    return 0;
}

void TSocketAddress::SetPort(std::uint16_t port)
{
    if (Family() == AF_INET)
        reinterpret_cast<sockaddr_in&>(Storage).sin_port = htons(port);
    else if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(Storage).sin6_port = htons(port);
}

QString TSocketAddress::Text() const
{
    char text[INET6_ADDRSTRLEN] = {};
    in_addr v4{};
    if (IPv4(&v4))
        inet_ntop(AF_INET, &v4, text, sizeof text);
    else if (Family() == AF_INET6)
        inet_ntop(AF_INET6, &V6().sin6_addr, text, sizeof text);
    return QString::fromLatin1(text);
}

bool TSocketAddress::IsLoopback() const
{
    in_addr v4{};
    if (IPv4(&v4))
        return (ntohl(v4.s_addr) >> 24) == 127;
    return Family() == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&V6().sin6_addr);
}

bool TSocketAddress::IsLinkLocal() const
{
    in_addr v4{};
    if (IPv4(&v4))
        return (ntohl(v4.s_addr) >> 16) == 0xA9FE;  // 169.254.0.0/16
    return Family() == AF_INET6 && IN6_IS_ADDR_LINKLOCAL(&V6().sin6_addr);
}

bool TSocketAddress::operator==(const TSocketAddress& other) const
{
    return Size == other.Size && std::memcmp(&Storage, &other.Storage, Size) == 0;
}

bool TSocketAddress::IPv4(in_addr* address) const
{
    if (Family() == AF_INET) {
        *address = reinterpret_cast<const sockaddr_in&>(Storage).sin_addr;
        return true;
    }
    if (Family() == AF_INET6 && IN6_IS_ADDR_V4MAPPED(&V6().sin6_addr)) {
        std::memcpy(&address->s_addr, V6().sin6_addr.s6_addr + 12, 4);
        return true;
    }
    return false;
}
