// The results as Markdown: one table, the commands behind its rows, and the
// throughput and latency goals for vorlane-relay where its rows and the peers
// they are compared with were measured.
#pragma once

#include <ostream>
#include <vector>

#include "peer_result.h"

namespace bench {

// One row of the table; also the per-round progress line.
void WriteResultRow(std::ostream& out, const PeerResult& result);
void WriteResultTable(std::ostream& out, const std::vector<PeerResult>& results, int connections);
void WriteCommands(std::ostream& out, const std::vector<PeerResult>& results);
void WriteGoals(std::ostream& out, const std::vector<PeerResult>& results);

}  // namespace bench
