#include "cli/stats_line.h"

#include "stats/byte_size.h"

std::string FormatStatsLine(const RelayControl& engine, const SpeedSample& speeds) {
    return "up " + FormatByteSize(engine.BytesUp()) + " at " + FormatByteSize(speeds.up) +
           "/s, down " + FormatByteSize(engine.BytesDown()) + " at " + FormatByteSize(speeds.down) +
           "/s, connections " + std::to_string(engine.ConnectionCount()) + ", denied " +
           std::to_string(engine.DeniedCount());
}
