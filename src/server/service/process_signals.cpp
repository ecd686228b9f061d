#include "server/service/process_signals.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>

#include <thread>
#endif

namespace {

enum class Request {
    Stop,
    Reload,
    Close,  // the console closes: a stop that never ends the process at once
};

// What was asked for and who serves it; under gLock.
std::mutex gLock;
std::function<void()> gOnSecondStop;
SignalRequests gServed;
bool gStopAsked = false;
bool gReloadAsked = false;  // and not yet served

// Ends the process without waiting for anything: connections are cut.
[[noreturn]] void EndAtOnce() {
    if (gOnSecondStop) {
        gOnSecondStop();
    }
    std::fflush(stdout);
    std::fflush(stderr);
#ifdef _WIN32
    // Not ExitProcess: it runs the DLLs' detach code after ending the other
    // threads, and hangs when one of them held a lock that code takes (the C
    // runtime's stream locks, say).
    TerminateProcess(GetCurrentProcess(), 0);
#endif
    std::_Exit(0);
}

void Take(Request request) {
    const std::lock_guard<std::mutex> lock(gLock);
    if (request == Request::Reload) {
        if (gStopAsked) {
            return;
        }
        if (gServed.reload) {
            gServed.reload();
        } else {
            gReloadAsked = true;
        }
        return;
    }
    if (gStopAsked) {
        if (request == Request::Stop) {
            EndAtOnce();
        }
        return;
    }
    gStopAsked = true;
    if (gServed.stop) {
        gServed.stop();
    }
}

#ifdef _WIN32
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        Take(Request::Close);
        // Windows ends the process once this returns; give the service time
        // to stop listening and exit first.
        Sleep(5000);
        return TRUE;
    }
    Take(Request::Stop);
    return TRUE;
}
#else
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
#endif

}  // namespace

#ifdef _WIN32
struct SignalWatch::SignalThread {};
#else
// asio's handler writes each signal to the context's pipe; this thread, the
// only one that has the signals unblocked, runs the context.
struct SignalWatch::SignalThread {
    void Wait() {
        signals.async_wait([this](std::error_code ec, int signal) {
            if (ec) {
                return;
            }
            Take(signal == SIGHUP ? Request::Reload : Request::Stop);
            Wait();
        });
    }

    asio::io_context context{1};
    asio::signal_set signals{context};
    std::thread thread;
};
#endif

void HoldSignals() {
#ifndef _WIN32
    // A client gone while the relay writes to it is an error on that socket, not a signal.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);

    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);  // inherited by every thread started after
#endif
}

SignalWatch::SignalWatch(std::function<void()> onSecondStop) {
    {
        const std::lock_guard<std::mutex> lock(gLock);
        gOnSecondStop = std::move(onSecondStop);
    }
#ifdef _WIN32
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
#else
    m_thread = std::make_unique<SignalThread>();
    std::error_code ignored;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        m_thread->signals.add(signal, ignored);
    }
    m_thread->Wait();
    m_thread->thread = std::thread([thread = m_thread.get()] {
        // Only now that asio's handler is in place: a signal held since main
        // began is delivered here as soon as it is unblocked.
        const sigset_t set = WatchedSignals();
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        thread->context.run();
    });
#endif
}

// The console handler stays (a Ctrl+C while the process ends still ends it
// quietly); only what it would call, which goes with main's scope, is dropped.
SignalWatch::~SignalWatch() {
#ifndef _WIN32
    m_thread->context.stop();
    m_thread->thread.join();
#endif
    const std::lock_guard<std::mutex> lock(gLock);
    gOnSecondStop = nullptr;
}

ServedSignals::ServedSignals(SignalRequests requests) {
    const std::lock_guard<std::mutex> lock(gLock);
    gServed = std::move(requests);
    if (gStopAsked) {
        gServed.stop();
    } else if (gReloadAsked) {
        gReloadAsked = false;
        gServed.reload();
    }
}

ServedSignals::~ServedSignals() {
    const std::lock_guard<std::mutex> lock(gLock);
    gServed = {};
}
