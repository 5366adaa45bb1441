#include "figures_observer.h"

namespace kestrune::sim {

plant::Sample sampleOf(const PlantSignals &signals, std::size_t converter) {
    const ConverterSignals &c = signals.converters[converter];
    const master::Inputs &m = c.measurements;
    return plant::Sample{.time = signals.time,
                         .e = {m[0], m[1], m[2]},
                         .i = {m[3], m[4], m[5]},
                         .vdc = m[6],
                         .gridFrequency = signals.gridFrequency,
                         .illegalPatterns = c.illegalPatterns,
                         .directChanges = c.directChanges,
                         .sourceA = signals.source[0],
                         .step = signals.step};
}

void FiguresObserver::record(PlantParticipant &plant) {
    plant.read(signals_);
    for (std::size_t j = 0; j < recorders_.size() && j < signals_.converters.size(); ++j)
        recorders_[j].add(sampleOf(signals_, j));
}

} // namespace kestrune::sim
