#include "run_pool.h"

#include "common/interruption.h"
#include "common/temporary_paths.h"
#include "whole_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kestrune::sweep {

namespace {

bool stopped(const StopAsked &stop) {
    return stop && stop();
}

} // namespace

std::string runPoolOnThreads(const std::vector<std::size_t> &runs, unsigned jobs, const WorkerFactory &worker,
                             const RowTaker &take, const StopAsked &stop) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        const RunWorker run = worker();
        for (std::size_t i = next++; i < runs.size() && !stopped(stop); i = next++)
            take(run(runs[i]));
    };
    std::vector<std::thread> threads;
    for (unsigned j = 1; j < jobs && j < runs.size(); ++j)
        threads.emplace_back(work);
    work();
    for (std::thread &thread : threads)
        thread.join();
    return "";
}

namespace {

// A child process that runs what it is sent: a run index (8 bytes) in, the
// row (its length in 4 bytes, then the text) out; the end of its input ends
// it.
struct Child {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
    std::int64_t run = -1; // the run it is doing
};

// The worker removes the temporaries it made itself (its copies of the
// unit) when it ends, however it ends; those it inherited are the parent's.
// No exception may leave it: it would unwind into the parent's code.
[[noreturn]] void childLoop(const WorkerFactory &worker, int in, int out) {
    watchAsWorkerProcess();
    int status = 0;
    try {
        std::uint64_t index = 0;
        const RunWorker run = worker();
        while (readAll(in, &index, sizeof index)) {
            const std::string row = run(static_cast<std::size_t>(index));
            const auto length = static_cast<std::uint32_t>(row.size());
            if (!writeAll(out, &length, sizeof length) || !writeAll(out, row.data(), row.size()))
                break;
        }
    } catch (...) {
        status = EXIT_UNEXPECTED;
    }
    removeRememberedTemporariesForGood();
    std::_Exit(status);
}

// others: the workers already running, whose pipe ends the new one must not
// keep open (a worker sees the end of its input only when no process holds
// the other end).
bool startChild(const WorkerFactory &worker, Child &child, const std::vector<Child> &others) {
    int down[2];
    int up[2];
    if (::pipe2(down, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(up, O_CLOEXEC) != 0) {
        ::close(down[0]);
        ::close(down[1]);
        return false;
    }
    std::fflush(nullptr);
    // No worker starts once an interruption is ending the pool: it stops
    // those it knows.
    InterruptionHold hold = holdOffInterruption();
    const pid_t pid = ::fork();
    if (pid < 0) {
        for (int fd : {down[0], down[1], up[0], up[1]})
            ::close(fd);
        return false;
    }
    if (pid == 0) {
        hold.unlock(); // this process's own: its watcher must be able to take it
        ::close(down[1]);
        ::close(up[0]);
        for (const Child &other : others)
            if (other.pid > 0) {
                ::close(other.toChild);
                ::close(other.fromChild);
            }
        childLoop(worker, down[0], up[1]);
    }
    rememberWorkerProcess(pid);
    ::close(down[0]);
    ::close(up[1]);
    child = Child{pid, down[1], up[0], -1};
    return true;
}

void stopChild(Child &child, int *status) {
    ::close(child.toChild);
    ::close(child.fromChild);
    int s = 0;
    while (::waitpid(child.pid, &s, 0) < 0 && errno == EINTR) {
    }
    forgetWorkerProcess(child.pid);
    if (status != nullptr)
        *status = s;
    child = Child{};
}

} // namespace

std::string runPoolInProcesses(const std::vector<std::size_t> &runs, unsigned jobs,
                               const WorkerFactory &worker, const RowTaker &take, const FailedRow &failed,
                               const StopAsked &stop) {
    // A worker that reads from a pipe whose reader died gets EPIPE, not a
    // signal.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<Child> children(std::min<std::size_t>(jobs, runs.size()));
    std::size_t next = 0;
    // False when there is no run left to give. A worker that died before it
    // could be sent its run still counts as busy with it: the end of its
    // output, polled below, reports that run, as for a worker that dies
    // during a run, so that no run goes missing from the table.
    auto give = [&](Child &child) {
        if (next >= runs.size() || stopped(stop))
            return false;
        const std::uint64_t run = runs[next++];
        child.run = static_cast<std::int64_t>(run);
        (void)writeAll(child.toChild, &run, sizeof run);
        return true;
    };
    std::size_t busy = 0;
    for (Child &child : children) {
        if (!startChild(worker, child, children))
            return "cannot start a worker process: " + std::string(std::strerror(errno));
        if (give(child))
            ++busy;
    }
    std::vector<pollfd> fds;
    std::string row;
    while (busy > 0) {
        fds.clear();
        for (const Child &child : children)
            fds.push_back({child.run >= 0 ? child.fromChild : -1, POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return "waiting for the workers failed: " + std::string(std::strerror(errno));
        }
        for (std::size_t c = 0; c < children.size(); ++c) {
            Child &child = children[c];
            if (child.run < 0 || fds[c].revents == 0)
                continue;
            std::uint32_t length = 0;
            if (readAll(child.fromChild, &length, sizeof length)) {
                row.resize(length);
                if (readAll(child.fromChild, row.data(), length)) {
                    take(row);
                    child.run = -1;
                    if (!give(child))
                        --busy;
                    continue;
                }
            }
            // The worker died during the run: that run is a row saying so,
            // and a new worker takes its place.
            const auto run = static_cast<std::size_t>(child.run);
            int status = 0;
            stopChild(child, &status);
            std::string reason = "the worker process running it ended";
            if (WIFSIGNALED(status))
                reason += " by signal " + std::to_string(WTERMSIG(status)) + " (" +
                          strsignal(WTERMSIG(status)) + ")";
            else if (WIFEXITED(status))
                reason += " with status " + std::to_string(WEXITSTATUS(status));
            take(failed(run, reason));
            if (next < runs.size() && !stopped(stop) && startChild(worker, child, children) && give(child))
                continue;
            --busy;
        }
    }
    for (Child &child : children)
        if (child.pid > 0)
            stopChild(child, nullptr);
    return "";
}

} // namespace kestrune::sweep
