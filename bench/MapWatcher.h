#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

struct xcb_connection_t;

struct TMappedWindow
{
    std::uint32_t Window = 0;
    std::chrono::steady_clock::time_point At;  // when the map reached us
};

// A tiny X client that hears every top-level window being mapped: it asks the server for
// SubstructureNotify on the root window and waits on the connection's descriptor, so a map
// that happens during WaitForMapped is timestamped within a wake-up of the server sending it
// (one that happened before the wait gets the time the wait read it). Without a window
// manager, mapped means on screen.
class TMapWatcher
{
public:
    TMapWatcher();
    ~TMapWatcher();
    TMapWatcher(const TMapWatcher&) = delete;
    TMapWatcher& operator=(const TMapWatcher&) = delete;

    bool Connect(const QString& displayName);

    // Forgets every map that happened before this call, heard yet or not.
    void Drain();

    // The next managed (not override-redirect) window mapped with this exact title.
    std::optional<TMappedWindow> WaitForMapped(const QString& title, std::chrono::milliseconds timeout);

    // Takes the keyboard from every window, so none is active and no text cursor blinks.
    void FocusNone();

private:
    void Sync() const;
    QString Title(std::uint32_t window) const;
    std::uint32_t Atom(const char* name) const;

    struct TDisconnect
    {
        void operator()(xcb_connection_t* connection) const;
    };
    std::unique_ptr<xcb_connection_t, TDisconnect> Connection;
    std::uint32_t Utf8String = 0;
};
