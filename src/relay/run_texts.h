// The texts the window shows for a run, worded by DisplayReports; the
// headless relay's log quotes some of them.
#pragma once

#include <string>

inline constexpr char kListeningStoppedText[] = "listening stopped!";
inline constexpr char kListenFailedText[] =
    "Listen failed, Maybe the local port you specified is taken, please try another port!";
inline constexpr char kCreateSocketFailedText[] = "Create socket failed!";
inline constexpr char kCreateThreadFailedText[] = "Create thread failed!";
// Only the window can have a malformed key at Start: the headless relay
// refuses one when it reads its settings.
inline constexpr char kBadLinkKeyText[] =
    "The link key in Setting.ini is not valid. Make one with vorlane-relay --generate-key.";

// "Listening on port 1987..."
std::string ListeningStatusText(int port);
// "accept error，errorid=N" (the comma is full-width).
std::string AcceptErrorText(int error);
