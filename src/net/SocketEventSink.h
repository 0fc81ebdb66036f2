#pragma once

#include <cstdint>

using TSocket = int;

// Event codes and the packing of the "window message" that reports them: the event in the low
// 16 bits, its error number in the high 16 bits.
enum TSocketEventCode : std::uint32_t {
    FD_READ = 0x01,
    FD_ACCEPT = 0x08,
    FD_CONNECT = 0x10,
    FD_CLOSE = 0x20,
};

constexpr std::uint32_t WSAMakeSelectReply(std::uint32_t event, int error)
{
    return (event & 0xFFFFu) | (static_cast<std::uint32_t>(error) << 16);
}
constexpr std::uint32_t WSAGetSelectEvent(std::uint32_t lParam) { return lParam & 0xFFFFu; }
constexpr int WSAGetSelectError(std::uint32_t lParam) { return static_cast<int>(lParam >> 16); }

// Whoever asked for a socket's events with TSocketLayer::AsyncSelect.
class TSocketEventSink
{
public:
    virtual ~TSocketEventSink() = default;
    virtual void WMSocketEvent(TSocket socket, std::uint32_t lParam) = 0;
};
