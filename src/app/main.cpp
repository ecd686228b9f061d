// The entry point only creates the application object and runs it.
#include <windows.h>

#include "app/relay_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        CRelayApp app;
        return app.Run(instance);
    } catch (...) {
        return 1;
    }
}
