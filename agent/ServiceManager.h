// The service manager's notify protocol, for Dunmar run as a systemd service of type notify:
// readiness, a status line and the watchdog's pings, as datagrams to the socket NOTIFY_SOCKET
// names. Without that variable (a desktop session, a run by hand) every call does nothing.
#pragma once

#include <chrono>
#include <string_view>

namespace fesko {

// Start-up is over: from here on the watchdog's pings say the program is alive.
void NotifyReady();
// The status line systemctl shows; line feeds become " - ".
void NotifyStatus(std::string_view status);
// How often the watchdog wants a ping (half of WATCHDOG_USEC, when WATCHDOG_PID is unset or
// names this process); zero when there is no watchdog.
std::chrono::milliseconds WatchdogPingInterval();
// A ping, unless one went less than half an interval ago: cheap enough to call between any two
// calls of a pass, so that only a call that truly hangs stops them. Called every half interval
// from the event loop, it keeps every gap under one interval.
void PingWatchdog();

}  // namespace fesko
