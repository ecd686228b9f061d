// The application object: starts Windows Sockets and the common controls,
// then runs the main window.
#pragma once

#include "framework/application.h"

class CRelayApp : public CApplication {
  protected:
    bool InitInstance() override;
};
