// One base step of the controller and its 20:1 rate schedule.
#pragma once

#include <cstdint>

namespace kestrune {

struct Model;
struct ModelRecord;

// Runs one base step (5 µs): entry, output phase, output snapshot, update
// phase and time keeping, with the slow rate on every 20th step.
void modelStep(Model &model);

// Copies the 12 gate outputs into the model's output snapshot, when it has
// one; the model step calls it once, at the end of its output phase.
void snapshotOutputs(Model &model);

// Writes the model's output snapshot back into the 12 gate outputs, so that
// what a reader sees after a whole step is that step's output phase,
// whatever its update phase left there.
void restoreOutputs(Model &model);

// Moves the 20:1 counter one base step on and flags whether the coming step
// is a slow-rate hit.
void advanceRateCounter(ModelRecord &m);

// Time of the slow step that comes after a count of completed slow steps
// (64 bits in two words) [s]: the slow time both the whole step and the slow
// partition keep.
double slowTickTime(std::uint32_t low, std::uint32_t high, double slowStepSize);

// Time at the start of the present base step, from the 64-bit base tick [s].
double baseStepTime(const ModelRecord &m);

// The two rates as partitions of their own, for a scheduler that runs each
// rate as a task. Run in time order, the fast partition at every base step
// and the slow partition after it on every 20th, they give the gates of
// modelStep exactly.
//
// What passes between them at a slow-rate hit, called by the partitions
// where the other one could be interrupted or interrupting: the fast
// partition's exchange takes the reference of the previous slow period in
// (transferReferenceIn) and keeps the filtered measurements of this step
// for the slow partition; the slow partition's hand-over stores its
// reference for the next slow period (transferReferenceOut).
using SlowTickExchange = void (*)(Model &model, void *context);

// Time of the slow step the slow partition runs next [s].
double slowStepTime(const ModelRecord &m);

// One base step without the slow-rate blocks: filters, modulator and gate
// outputs, their snapshot, base-rate states and the base tick. On a
// slow-rate hit it calls exchange once, between the filters and the
// modulator.
void fastPartitionStep(Model &model, SlowTickExchange exchange, void *context);

// The slow-rate blocks of one slow step from the held measurements that the
// caller set, calling handOver once between the output and the update
// phase, then the slow tick. Returns false when a hosted block failed; the
// slow step is then not counted.
bool slowPartitionStep(Model &model, SlowTickExchange handOver, void *context);

} // namespace kestrune
