#include "loop_observers.h"

namespace kestrune::sim {

void RowObserver::write(PlantParticipant &plant) {
    plant.read(signals_);
    sink_.row(signals_);
    written_ = true;
}

void RowObserver::started(PlantParticipant &plant) {
    write(plant);
    untilRow_ = stepsPerRow_;
}

void RowObserver::communicationPoint(const LoopPoint &point, LoopControl & /*control*/) {
    written_ = false;
    if (--untilRow_ != 0)
        return;
    untilRow_ = stepsPerRow_;
    write(point.plant);
}

void RowObserver::finished(PlantParticipant &plant, const LoopControl &control) {
    if (control.stopped() && !written_)
        write(plant);
}

void ProgressObserver::communicationPoint(const LoopPoint &point, LoopControl & /*control*/) {
    if (point.stepsDone % EVERY == 0)
        sink_.progress(point.plant.time(), duration_,
                       std::chrono::duration<double>(Clock::now() - wallStart_).count());
}

} // namespace kestrune::sim
