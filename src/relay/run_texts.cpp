#include "relay/run_texts.h"

std::string ListeningStatusText(int port) {
    return "Listening on port " + std::to_string(port) + "...";
}

std::string AcceptErrorText(int error) {
    return "accept error\xEF\xBC\x8C"
           "errorid=" +
           std::to_string(error);
}
