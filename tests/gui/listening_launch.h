// A shared launch that listens from the start: Setting.ini has AutoStart=1, a
// free loopback port, and an echo server of this test process as the target.
#pragma once

#include <memory>
#include <string>

#include "gui_session.h"
#include "loopback.h"

namespace vorlane::gui {

// Winsock and an echo server, alive for a whole group.
struct EchoTarget {
    WinsockSession winsock;
    EchoServer echo;
};

template <class Group>
class ListeningLaunch : public SharedLaunch<Group> {
  public:
    static std::string Ini() {
        values_.localListenPort = std::to_string(port_);
        values_.destPort = std::to_string(target_->echo.Port());
        values_.autoStart = "1";
        return values_.File();
    }
    static void SetUpTestSuite() {
        target_ = std::make_unique<EchoTarget>();
        port_ = FreePort();
    }
    static void TearDownTestSuite() {
        SharedLaunch<Group>::TearDownTestSuite();
        target_.reset();
    }

  protected:
    static inline std::unique_ptr<EchoTarget> target_;
    static inline int port_ = 0;
    // The file the launch started with; a save without changes writes it back.
    static inline IniValues values_;
};

}  // namespace vorlane::gui
