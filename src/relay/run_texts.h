// The texts the window shows for a run, worded by DisplayReports; the
// headless relay's log quotes some of them.
#pragma once

#include <string>

inline constexpr char kListeningStoppedText[] = "listening stopped!";
inline constexpr char kListenFailedText[] =
    "Listen failed, Maybe the local port you specified is taken, please try another port!";
inline constexpr char kCreateSocketFailedText[] = "Create socket failed!";
inline constexpr char kCreateThreadFailedText[] = "Create thread failed!";

// "Listening on port 1987..."
std::string ListeningStatusText(int port);
// "accept error，errorid=N" (the comma is full-width).
std::string AcceptErrorText(int error);
