#include "app/background_switch.h"

#include <cstring>

bool EndsWithBackgroundSwitch(const char* commandLine) {
    static constexpr char kSwitch[] = "-background";
    constexpr std::size_t kLength = sizeof kSwitch - 1;
    if (commandLine == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(commandLine);
    const char* tail = length > kLength ? commandLine + length - kLength : commandLine;
    return std::strcmp(tail, kSwitch) == 0;
}
