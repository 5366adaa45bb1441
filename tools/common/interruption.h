// What a tool does when it is interrupted (SIGINT, SIGTERM) or runs out of
// memory: it removes its temporary folders and partial files, says in one
// line what was interrupted, and ends with 130 (SIGINT), 143 (SIGTERM) or
// 70 (out of memory, or an unexpected error).
//
// The signals are blocked in every thread and taken by a thread of the
// watcher's own with sigwait, so that the cleanup runs as ordinary code,
// never inside a signal handler.
#pragma once

#include <functional>
#include <shared_mutex>
#include <string>

namespace kestrune {

// Exit status after an allocation failure or an unexpected error.
inline constexpr int EXIT_UNEXPECTED = 70;

// Starts watching: blocks SIGINT and SIGTERM in the calling thread (and so
// in every thread and process it starts later) and takes them on a thread
// of its own. Call first in main, before any thread starts. tool names the
// program in the messages.
void watchForInterruption(const std::string &tool);

// What the tool is doing, for its messages: "running load_step.ssp".
void setInterruptedWork(const std::string &work);

// The line printed for an interruption or a failure while working:
// "kestrune-sim: interrupted (SIGINT) while running load_step.ssp; its
// temporary files are removed", with what ("interrupted (SIGINT)").
std::string interruptionLine(const std::string &what);

// Worker processes this process forked: an interruption stops them (with
// SIGTERM, so that each removes its own temporaries) and waits for them
// before it ends.
void rememberWorkerProcess(int pid);
void forgetWorkerProcess(int pid);

// In a worker process right after fork: forgets the parent's temporaries
// and workers (the parent's to remove) and watches for the two signals on a
// thread of its own; interrupted, it removes its own temporaries and ends
// quietly (the parent speaks for it).
void watchAsWorkerProcess();

// This process ends quietly when interrupted: another speaks for it (the
// MPI ranks but the first).
void interruptQuietly();

// In a forked child right before exec: the program it becomes gets the two
// signals as usual.
void unblockInterruptionInChild();

// Held while a record that must stay whole is written (a row of a table
// that a later run resumes from), while a partial file is named and
// remembered and while one is renamed: an interruption waits until it is
// released, and holds every later one off until the process ends.
using InterruptionHold = std::shared_lock<std::shared_timed_mutex>;
InterruptionHold holdOffInterruption();

// Runs a tool's main body: an allocation failure or another exception that
// reaches it prints one line, removes the temporaries and returns
// EXIT_UNEXPECTED instead of aborting. Exceptions that end a thread of the
// tool end it the same way.
int runGuarded(const std::function<int()> &body);

} // namespace kestrune
