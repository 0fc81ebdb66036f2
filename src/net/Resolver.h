#pragma once

#include "net/SocketAddress.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// What a host lookup gives: the official name and the IPv4 addresses, in network byte order.
struct THostEntry
{
    QString Name;
    QList<std::uint32_t> Addresses;
};

// An address of one of this machine's network interfaces, as getifaddrs lists it.
struct TInterfaceAddress
{
    TSocketAddress Address;
    bool Up = false;
    bool Loopback = false;
};
using TInterfaceList = QList<TInterfaceAddress>;

// The name services the connection needs: the POSIX counterparts of inet_addr, inet_ntoa,
// gethostbyname, getservbyname, getprotobyname and gethostname. Texts of any length are
// accepted: nothing is copied into fixed buffers, and a text holding a NUL is never found.
class TResolver
{
public:
    // Dotted address in any form inet_aton takes ("127.1" included); nullopt when it is none.
    static std::optional<std::uint32_t> InetAddr(const QString& text);
    static QString InetNtoa(std::uint32_t address);

    // An address written as one: every IPv4 form inet_aton takes, an IPv6 literal, either
    // of them in brackets ("[2001:db8::1]"). Port 0.
    static std::optional<TSocketAddress> AddressLiteral(const QString& text);

    // Every address of a name, IPv6 and IPv4, in the resolver's order of preference; empty
    // when it does not resolve, with *wsaError (when given) set to the Windows Sockets number.
    // It blocks: run it off the window's thread (THostLookup).
    static QList<TSocketAddress> LookUpHost(const QString& name, int* wsaError = nullptr);

    static TInterfaceList InterfaceAddresses();

    // IPv4 only. On failure, *wsaError (when given) receives the Windows Sockets number.
    static std::optional<THostEntry> GetHostByName(const QString& name, int* wsaError = nullptr);

    // The port of a TCP service name, in host byte order.
    static std::optional<std::uint16_t> GetServByName(const QString& name);

    // The protocol number of a name in the protocol database, or nullopt.
    static std::optional<int> GetProtoByName(const QString& name);

    static std::optional<QString> GetHostName();
};
