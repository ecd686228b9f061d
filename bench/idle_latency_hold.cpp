#include "idle_latency_hold.h"

#include <fcntl.h>
#include <unistd.h>
#include <cstdint>
#include <utility>

namespace bench {

IdleLatencyHold::IdleLatencyHold() {
    Socket file(open("/dev/cpu_dma_latency", O_WRONLY | O_CLOEXEC));
    const int32_t no_wake_latency = 0;
    if (file.valid() && write(file.fd(), &no_wake_latency, sizeof no_wake_latency) ==
                            static_cast<ssize_t>(sizeof no_wake_latency)) {
        file_ = std::move(file);
    }
}

}  // namespace bench
