// The application object: the instance, the command line and the
// application's name, and the start-up hook that runs the main window.
#pragma once

#include <windows.h>

#include <string>

class CApplication {
  public:
    CApplication();
    virtual ~CApplication();
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // The entry point's one call: names the application, then InitInstance.
    int Run(HINSTANCE instance);

    HINSTANCE Instance() const { return m_hInstance; }
    // The whole command line as the system reports it.
    const char* CommandLine() const;
    // String resource 57344, else the executable's file name without extension.
    const std::string& AppName() const { return m_appName; }

    // The one application object of the process.
    static CApplication& Current();

  protected:
    // Runs the program; its result is not used by the framework.
    virtual bool InitInstance() = 0;

  private:
    HINSTANCE m_hInstance = nullptr;
    std::string m_appName;
};
