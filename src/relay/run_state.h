// Where a listening run stands; the window's Start and Stop follow from it.
#pragma once

enum class RunState {
    Idle,       // not accepting
    Listening,  // accepting clients
    Stopping,   // no longer accepting; live connections are given time to finish
};
