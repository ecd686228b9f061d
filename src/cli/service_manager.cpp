#include "cli/service_manager.h"

#ifdef VORLANE_HAVE_SD_NOTIFY
#include <systemd/sd-daemon.h>
#endif

void NotifyServiceManager(const char* state) {
#ifdef VORLANE_HAVE_SD_NOTIFY
    // A failure changes nothing for the relay: systemd, if it waits, times out.
    sd_notify(0, state);
#else
    (void)state;
#endif
}
