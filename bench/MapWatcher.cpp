#include "MapWatcher.h"

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/xcb.h>

namespace {

using TClock = std::chrono::steady_clock;

template <typename T>
using TReply = std::unique_ptr<T, decltype(&std::free)>;

}  // namespace

void TMapWatcher::TDisconnect::operator()(xcb_connection_t* connection) const
{
    xcb_disconnect(connection);
}

TMapWatcher::TMapWatcher() = default;
TMapWatcher::~TMapWatcher() = default;

bool TMapWatcher::Connect(const QString& displayName)
{
    Connection.reset(xcb_connect(displayName.toLocal8Bit().constData(), nullptr));
    if (xcb_connection_has_error(Connection.get()))
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(Connection.get())).data;
    const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    const xcb_void_cookie_t cookie =
        xcb_change_window_attributes_checked(Connection.get(), screen->root, XCB_CW_EVENT_MASK, &events);
    if (TReply<xcb_generic_error_t> error{xcb_request_check(Connection.get(), cookie), &std::free}; error)
        return false;
    Utf8String = Atom("UTF8_STRING");
    return Utf8String != XCB_ATOM_NONE;
}

void TMapWatcher::Drain()
{
    Sync();
    while (xcb_generic_event_t* event = xcb_poll_for_event(Connection.get()))
        std::free(event);
}

std::optional<TMappedWindow> TMapWatcher::WaitForMapped(const QString& title, std::chrono::milliseconds timeout)
{
    const TClock::time_point deadline = TClock::now() + timeout;
    pollfd entry{xcb_get_file_descriptor(Connection.get()), POLLIN, 0};
    for (;;) {
        // Events first: a reply read earlier may have brought some along into xcb's queue.
        while (TReply<xcb_generic_event_t> event{xcb_poll_for_event(Connection.get()), &std::free}) {
            const TClock::time_point at = TClock::now();
            if ((event->response_type & 0x7F) != XCB_MAP_NOTIFY)
                continue;
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event.get());
            if (!map->override_redirect && Title(map->window) == title)
                return TMappedWindow{map->window, at};
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now());
        if (xcb_connection_has_error(Connection.get()) || left.count() <= 0)
            return std::nullopt;
        ::poll(&entry, 1, static_cast<int>(left.count()));
    }
}

void TMapWatcher::FocusNone()
{
    xcb_set_input_focus(Connection.get(), XCB_INPUT_FOCUS_NONE, XCB_NONE, XCB_CURRENT_TIME);
    Sync();
}

// A round trip: the server has handled every earlier request, and every event it generated
// before has reached us.
void TMapWatcher::Sync() const
{
    std::free(xcb_get_input_focus_reply(Connection.get(), xcb_get_input_focus(Connection.get()), nullptr));
}

QString TMapWatcher::Title(std::uint32_t window) const
{
    // WM_NAME, not _NET_WM_NAME: Qt adds the application's display name to the latter only.
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(Connection.get(), 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    const TReply<xcb_get_property_reply_t> reply{xcb_get_property_reply(Connection.get(), cookie, nullptr),
                                                 &std::free};
    if (!reply)
        return {};
    const auto* text = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    return reply->type == Utf8String ? QString::fromUtf8(text, length) : QString::fromLatin1(text, length);
}

std::uint32_t TMapWatcher::Atom(const char* name) const
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(Connection.get(), 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    const TReply<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(Connection.get(), cookie, nullptr),
                                                &std::free};
    return reply ? reply->atom : std::uint32_t{XCB_ATOM_NONE};
}
