#pragma once

#include <QString>

#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>

// An IPv4 or IPv6 socket address, as bind, connect and accept take and give it.
class TSocketAddress
{
public:
    TSocketAddress() = default;
    // Implicit: every place that speaks IPv4 only keeps passing its sockaddr_in.
    TSocketAddress(const sockaddr_in& address);
    TSocketAddress(const sockaddr_in6& address);
    // A copy of what a system call filled in; empty when the family is neither.
    static TSocketAddress FromSystem(const sockaddr* address, socklen_t length);
    // Every address of a family (INADDR_ANY or in6addr_any) at a port, for listening.
    static TSocketAddress Any(int family, std::uint16_t port);

    bool IsEmpty() const { return Size == 0; }
    int Family() const { return Storage.ss_family; }
    std::uint16_t Port() const;  // host byte order
    void SetPort(std::uint16_t port);

    // Dotted IPv4; IPv6 in its compact form; an IPv4 peer seen through an IPv6 socket as IPv4.
    QString Text() const;
    bool IsLoopback() const;
    bool IsLinkLocal() const;

    const sockaddr* Data() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    socklen_t Length() const { return Size; }

    bool operator==(const TSocketAddress& other) const;

private:
    // The IPv4 address in network byte order, for IPv4 and v4-mapped IPv6; false otherwise.
    bool IPv4(in_addr* address) const;
    const sockaddr_in6& V6() const { return reinterpret_cast<const sockaddr_in6&>(Storage); }

    sockaddr_storage Storage{};
    socklen_t Size = 0;
};
