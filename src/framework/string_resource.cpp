#include "framework/string_resource.h"

std::string LoadStringResource(HINSTANCE instance, UINT id) {
    char buffer[256] = {};
    const int length = LoadStringA(instance, id, buffer, static_cast<int>(sizeof buffer));
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}
