// The pool of workers that runs a list of runs on this machine's cores, for
// any tool whose runs are numbered and whose result is a line of text (a row
// of a table): threads for an archive whose units keep their model data
// apart (FMI 3.0), processes otherwise (FMI 2.0, whose model data exists
// once per loaded library). Rows reach the taker as they are finished.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestrune::sweep {

// A worker's way of running one run: made once per worker (thread or
// process), so that it may keep what its runs share (units, an archive).
using RunWorker = std::function<std::string(std::size_t run)>;
using WorkerFactory = std::function<RunWorker()>;
// Receives each finished row; called from the worker threads (so it must be
// thread-safe) or from the calling thread for processes.
using RowTaker = std::function<void(const std::string &row)>;
// The row of a run whose worker process died in it, with what happened.
using FailedRow = std::function<std::string(std::size_t run, const std::string &reason)>;
// Asked before each run is handed out: true stops the pool taking more.
using StopAsked = std::function<bool()>;

// Each returns "" or what failed. jobs: how many workers at most.
std::string runPoolOnThreads(const std::vector<std::size_t> &runs, unsigned jobs, const WorkerFactory &worker,
                             const RowTaker &take, const StopAsked &stop = {});
std::string runPoolInProcesses(const std::vector<std::size_t> &runs, unsigned jobs,
                               const WorkerFactory &worker, const RowTaker &take, const FailedRow &failed,
                               const StopAsked &stop = {});

} // namespace kestrune::sweep
