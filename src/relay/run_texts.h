// The texts the window shows for a run, shared by the threaded engine and
// the wording of the event engine's reports.
#pragma once

#include <string>

inline constexpr char kListeningStoppedText[] = "listening stopped!";
inline constexpr char kListenFailedText[] =
    "Listen failed, Maybe the local port you specified is taken, please try another port!";
inline constexpr char kCreateSocketFailedText[] = "Create socket failed!";

// "Listening on port 1987..."
std::string ListeningStatusText(int port);
// "accept error，errorid=N" (the comma is full-width).
std::string AcceptErrorText(int error);
