// The interruption watcher. Its state lives in objects that are never
// destroyed: threads may still be blocked on the hold when the process ends.
#include "interruption.h"

#include "temporary_paths.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <mutex>
#include <new>
#include <set>
#include <shared_mutex>
#include <thread>

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kestrune {

namespace {

struct State {
    std::mutex lock; // guards the fields below
    std::string tool = "kestrune";
    std::string work;
    std::set<int> workers;
    bool quiet = false; // no line when interrupted
    // Shared by writers of whole records; taken whole by the ending.
    // A worker process makes a fresh one: the copy it forked with may be
    // marked taken by a thread of the parent that it does not have.
    std::shared_timed_mutex *hold = new std::shared_timed_mutex;
};

State &state() {
    static State *const s = new State;
    return *s;
}

void writeError(const std::string &line) {
#ifndef _WIN32
    const char *p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
#else
    std::fputs(line.c_str(), stderr);
#endif
}

#ifndef _WIN32
// Asks every worker process to end (each removes its own temporaries) and
// waits for them a few seconds, then kills those still there.
void stopWorkers() {
    std::set<int> workers;
    {
        const std::lock_guard<std::mutex> guard(state().lock);
        workers = state().workers;
    }
    for (const int pid : workers)
        ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (const int pid : workers) {
        for (;;) {
            // Another thread may have reaped it already: then it is gone too.
            const pid_t done = ::waitpid(pid, nullptr, WNOHANG);
            if (done == pid || (done < 0 && errno != EINTR))
                break;
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
                }
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}
#endif

// What every ending does before the process ends: no whole record is cut
// short (the hold is taken and kept), the workers end, the temporaries go.
// waitForHold: false where this thread may itself hold it (an exception
// thrown while writing).
void endWork(bool waitForHold) {
    State &s = state();
    if (waitForHold)
        s.hold->lock();
    else
        (void)s.hold->try_lock_for(std::chrono::seconds(2));
#ifndef _WIN32
    stopWorkers();
#endif
    removeRememberedTemporariesForGood();
}

void failLine(const std::string &what) {
    try {
        writeError(interruptionLine(what) + '\n');
    } catch (...) {
        writeError(what + '\n');
    }
}

[[noreturn]] void endUnexpectedly(const std::string &what) {
    endWork(false);
    failLine(what);
    std::fflush(stdout);
    std::_Exit(EXIT_UNEXPECTED);
}

// An exception that ends a thread (or leaves a noexcept function).
[[noreturn]] void onTerminate() {
    const std::exception_ptr current = std::current_exception();
    if (current) {
        try {
            std::rethrow_exception(current);
        } catch (const std::bad_alloc &) {
            endUnexpectedly("out of memory");
        } catch (const std::exception &e) {
            endUnexpectedly(std::string("stopped by an unexpected error (") + e.what() + ")");
        } catch (...) {
            endUnexpectedly("stopped by an unexpected error");
        }
    }
    endWork(false);
    std::abort();
}

#ifndef _WIN32
sigset_t interruptionSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

[[noreturn]] void watch() {
    const sigset_t set = interruptionSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    bool quiet = false;
    {
        const std::lock_guard<std::mutex> guard(state().lock);
        quiet = state().quiet;
    }
    endWork(true);
    // On a terminal the line replaces a progress line.
    if (!quiet)
        writeError((::isatty(STDERR_FILENO) == 1 ? "\r\x1b[K" : "") +
                   interruptionLine(signal == SIGINT ? "interrupted (SIGINT)" : "interrupted (SIGTERM)") +
                   '\n');
    ::_exit(128 + signal);
}

void startWatcher() {
    std::thread(watch).detach();
}
#endif

} // namespace

void watchForInterruption(const std::string &tool) {
    {
        const std::lock_guard<std::mutex> guard(state().lock);
        state().tool = tool;
    }
    std::set_terminate(onTerminate);
#ifndef _WIN32
    const sigset_t set = interruptionSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    startWatcher();
#endif
}

void setInterruptedWork(const std::string &work) {
    const std::lock_guard<std::mutex> guard(state().lock);
    state().work = work;
}

std::string interruptionLine(const std::string &what) {
    const std::lock_guard<std::mutex> guard(state().lock);
    const State &s = state();
    return s.tool + ": " + what +
           (s.work.empty() ? "; the temporary files are removed"
                           : " while " + s.work + "; its temporary files are removed");
}

void rememberWorkerProcess(int pid) {
    const std::lock_guard<std::mutex> guard(state().lock);
    state().workers.insert(pid);
}

void forgetWorkerProcess(int pid) {
    const std::lock_guard<std::mutex> guard(state().lock);
    state().workers.erase(pid);
}

void watchAsWorkerProcess() {
    forgetInheritedTemporaries();
    {
        const std::lock_guard<std::mutex> guard(state().lock);
        state().workers.clear();
        state().quiet = true;
        state().hold = new std::shared_timed_mutex;
    }
#ifndef _WIN32
    // The parent's watcher thread was not forked along.
    startWatcher();
#endif
}

void interruptQuietly() {
    const std::lock_guard<std::mutex> guard(state().lock);
    state().quiet = true;
}

void unblockInterruptionInChild() {
#ifndef _WIN32
    const sigset_t set = interruptionSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
#endif
}

InterruptionHold holdOffInterruption() {
    return InterruptionHold(*state().hold);
}

int runGuarded(const std::function<int()> &body) {
    try {
        return body();
    } catch (const std::bad_alloc &) {
        endUnexpectedly("out of memory");
    } catch (const std::exception &e) {
        endUnexpectedly(std::string("stopped by an unexpected error (") + e.what() + ")");
    }
}

} // namespace kestrune
