// A notice on the desktop, for a person who started olvanta-open from a file manager and would
// otherwise see nothing at all when a file cannot be shown: the freedesktop notification service
// on the session bus.
#pragma once

#include <string>

// Sends "Olvanta cannot show NAME" with `why` as its body. False when there is no session bus or no
// notification service on it; the caller has said it on standard error already.
bool notify_desktop(const std::string& file, const std::string& why);
