#include "framework/application.h"

#include <stdexcept>

#include "framework/string_resource.h"
#include "resource.h"

namespace {

CApplication* g_current = nullptr;

std::string ExecutableBaseName(HINSTANCE instance) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(instance, path, MAX_PATH);
    std::string name = path;
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        name.erase(dot);
    }
    return name;
}

}  // namespace

CApplication::CApplication() {
    g_current = this;
}

CApplication::~CApplication() {
    if (g_current == this) {
        g_current = nullptr;
    }
}

CApplication& CApplication::Current() {
    if (g_current == nullptr) {
        throw std::logic_error("no application object");
    }
    return *g_current;
}

const char* CApplication::CommandLine() const {
    return GetCommandLineA();
}

int CApplication::Run(HINSTANCE instance) {
    m_hInstance = instance;
    m_appName = LoadStringResource(instance, IDS_APP_TITLE);
    if (m_appName.empty()) {
        m_appName = ExecutableBaseName(instance);
    }
    InitInstance();
    return 0;
}
