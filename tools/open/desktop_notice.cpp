// One Notify call through GIO's D-Bus connection; a bus that does not answer within a few seconds
// is given up, so a broken session never holds olvanta-open.
#include "desktop_notice.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <cstdlib>

#include "mesh/shown_text.h"

namespace {

const int wait_ms = 3000;

std::string base_name(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash + 1 == path.size() ? path : path.substr(slash + 1);
}

// The session's own bus, or none: never one started for the occasion, as a bare lookup of the
// session bus would do on a display without one.
std::string session_bus_address()
{
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat info {};
    if (!runtime || stat((std::string(runtime) + "/bus").c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return "";
    return "unix:path=" + std::string(runtime) + "/bus";
}

// The summary is plain text by the protocol. The body is markup to a service that renders it, where
// a file's name could become a link: it always goes escaped as text, though a service that renders
// no markup then shows the escapes of '&', '<' and '>' as they are.
GVariant* notify_arguments(const std::string& summary, const std::string& body)
{
    GVariantBuilder actions, hints;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("olvanta"));
    return g_variant_new("(susssasa{sv}i)", "Olvanta", 0u, "olvanta", summary.c_str(), body.c_str(), &actions,
                         &hints, -1);
}

} // namespace

bool notify_desktop(const std::string& file, const std::string& why)
{
    const std::string address = session_bus_address();
    if (address.empty())
        return false;
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    GVariant* const arguments = notify_arguments("Olvanta cannot show " + shown(base_name(file)), as_markup_text(why));
    GVariant* answer = g_dbus_connection_call_sync(
        bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
        "Notify", arguments, G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, wait_ms, nullptr, &error);
    const bool sent = answer != nullptr;
    if (answer)
        g_variant_unref(answer);
    g_clear_error(&error);
    g_object_unref(bus);
    return sent;
}
