#include "mpi_sweep.h"

#include "common/interruption.h"

#include "master/fmu_archive.h"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

namespace kestrune::sweep {

namespace {

constexpr int TAG_ROW = 1;  // worker to rank 0: a row, or "" when it starts
constexpr int TAG_WORK = 2; // rank 0 to worker: a run index, or -1 to stop

// Runs what rank 0 sends until it says stop.
void worker(const SweepPlan &plan) {
    Runner runner(plan);
    std::string row;
    for (;;) {
        MPI_Send(row.data(), static_cast<int>(row.size()), MPI_CHAR, 0, TAG_ROW, MPI_COMM_WORLD);
        long long run = -1;
        MPI_Recv(&run, 1, MPI_LONG_LONG, 0, TAG_WORK, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (run < 0)
            return;
        row = runner.row(static_cast<std::size_t>(run));
    }
}

// Hands out the runs and takes the rows, each written to the table as it
// arrives. It waits by polling with short sleeps rather than in a blocking
// receive, which would keep a core busy that the workers need; the sleeps
// start at 20 us after a row and grow to 2 ms while none comes, so that
// short runs do not wait on them.
void dispatch(const std::vector<std::size_t> &runs, int ranks, Collector &collector) {
    std::size_t next = 0;
    int stopped = 0;
    std::string row;
    auto pause = std::chrono::microseconds(20);
    while (stopped < ranks - 1) {
        int flag = 0;
        MPI_Status status;
        MPI_Iprobe(MPI_ANY_SOURCE, TAG_ROW, MPI_COMM_WORLD, &flag, &status);
        if (!flag) {
            std::this_thread::sleep_for(pause);
            pause = std::min(2 * pause, std::chrono::microseconds(2000));
            continue;
        }
        pause = std::chrono::microseconds(20);
        int length = 0;
        MPI_Get_count(&status, MPI_CHAR, &length);
        row.resize(static_cast<std::size_t>(length));
        MPI_Recv(row.data(), length, MPI_CHAR, status.MPI_SOURCE, TAG_ROW, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        if (!row.empty())
            collector.add(row);
        long long run = next < runs.size() && !collector.failed() ? static_cast<long long>(runs[next++]) : -1;
        if (run < 0)
            ++stopped;
        MPI_Send(&run, 1, MPI_LONG_LONG, status.MPI_SOURCE, TAG_WORK, MPI_COMM_WORLD);
    }
}

} // namespace

bool launchedByMpi() {
    for (const char *name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"})
        if (std::getenv(name) != nullptr)
            return true;
    return false;
}

int runMpiSweep(const SweepOptions &options, std::ostream &out, std::ostream &err, bool errIsTerminal) {
    MPI_Init(nullptr, nullptr);
    int rank = 0;
    int ranks = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    // mpirun passes an interruption on to every rank: each removes its own
    // temporaries, and the first says so.
    if (rank != 0)
        interruptQuietly();
    if (ranks == 1) {
        // One rank: the sweep on this machine, with its workers.
        MPI_Finalize();
        return runLocalSweep(options, out, err, errIsTerminal);
    }

    // Every rank reads the sweep (the files are on a shared file system, as
    // the archive is); rank 0 alone reports a problem, and all stop.
    SweepPlan plan;
    std::ostringstream problems;
    int status = prepareSweep(options, plan, problems);
    if (status == 0) {
        master::UnpackedFmu fmu;
        if (!fmu.open(options.fmu)) {
            problems << "kestrune-sweep: " << fmu.error() << '\n';
            status = 1;
        } else if (!fmu.description().isFmi3()) {
            plan.sharedSteps = 0; // no FMU state: every run from zero
        }
    }
    int worst = 0;
    MPI_Allreduce(&status, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    if (worst != 0) {
        if (rank == 0)
            err << (status != 0 ? problems.str()
                                : "kestrune-sweep: another rank cannot read the sweep or the archive\n");
        MPI_Finalize();
        return worst;
    }

    int result = 0;
    if (rank == 0) {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::create_directories(options.outputDir, ec);
        Collector collector(plan, err, errIsTerminal);
        const std::string csv = (fs::path(options.outputDir) / (plan.definition.name + ".csv")).string();
        if (std::string problem = collector.open(csv, options.resume); !problem.empty()) {
            err << "kestrune-sweep: " << problem << '\n';
            dispatch({}, ranks, collector);
            result = 1;
        } else {
            dispatch(collector.pending(), ranks, collector);
            result = finishSweep(plan, options, collector,
                                 std::to_string(ranks) + " ranks (" + std::to_string(ranks - 1) + " running)",
                                 static_cast<std::size_t>(ranks - 1), out, err);
        }
    } else {
        worker(plan);
    }
    MPI_Finalize();
    return rank == 0 ? result : 0;
}

} // namespace kestrune::sweep
