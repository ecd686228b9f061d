// An application object that runs no window: the settings section is its
// name, from this test's resources (app_title.rc).
#pragma once

#include "framework/application.h"

class TestApp : public CApplication {
  protected:
    bool InitInstance() override { return false; }
};
