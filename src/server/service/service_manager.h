// What vorlane-relay tells systemd about itself under a Type=notify unit:
// READY=1 once it serves, RELOADING=1 then READY=1 around a reload,
// STOPPING=1 when it begins to stop. systemd then starts units ordered after
// it only once the port is bound, and `systemctl start` reports a relay that
// could not bind as failed. Nothing is sent when NOTIFY_SOCKET is unset, nor
// on Windows.
#pragma once

void NotifyServiceManager(const char* state);

inline constexpr char kServiceReady[] = "READY=1";
inline constexpr char kServiceReloading[] = "RELOADING=1";
inline constexpr char kServiceStopping[] = "STOPPING=1";
