// A unit's shared library loaded at run time, with all 44 fmi2 functions
// resolved, as a master loads it.
#pragma once

#include "fmu/fmi2.h"

#include <string>

namespace kestrune::master {

struct Fmi2Functions {
    fmi2GetTypesPlatformTYPE *getTypesPlatform = nullptr;
    fmi2GetVersionTYPE *getVersion = nullptr;
    fmi2SetDebugLoggingTYPE *setDebugLogging = nullptr;
    fmi2InstantiateTYPE *instantiate = nullptr;
    fmi2FreeInstanceTYPE *freeInstance = nullptr;
    fmi2SetupExperimentTYPE *setupExperiment = nullptr;
    fmi2EnterInitializationModeTYPE *enterInitializationMode = nullptr;
    fmi2ExitInitializationModeTYPE *exitInitializationMode = nullptr;
    fmi2TerminateTYPE *terminate = nullptr;
    fmi2ResetTYPE *reset = nullptr;
    fmi2GetRealTYPE *getReal = nullptr;
    fmi2GetIntegerTYPE *getInteger = nullptr;
    fmi2GetBooleanTYPE *getBoolean = nullptr;
    fmi2GetStringTYPE *getString = nullptr;
    fmi2SetRealTYPE *setReal = nullptr;
    fmi2SetIntegerTYPE *setInteger = nullptr;
    fmi2SetBooleanTYPE *setBoolean = nullptr;
    fmi2SetStringTYPE *setString = nullptr;
    fmi2GetFMUstateTYPE *getFMUstate = nullptr;
    fmi2SetFMUstateTYPE *setFMUstate = nullptr;
    fmi2FreeFMUstateTYPE *freeFMUstate = nullptr;
    fmi2SerializedFMUstateSizeTYPE *serializedFMUstateSize = nullptr;
    fmi2SerializeFMUstateTYPE *serializeFMUstate = nullptr;
    fmi2DeSerializeFMUstateTYPE *deSerializeFMUstate = nullptr;
    fmi2GetDirectionalDerivativeTYPE *getDirectionalDerivative = nullptr;
    fmi2EnterEventModeTYPE *enterEventMode = nullptr;
    fmi2NewDiscreteStatesTYPE *newDiscreteStates = nullptr;
    fmi2EnterContinuousTimeModeTYPE *enterContinuousTimeMode = nullptr;
    fmi2CompletedIntegratorStepTYPE *completedIntegratorStep = nullptr;
    fmi2SetTimeTYPE *setTime = nullptr;
    fmi2SetContinuousStatesTYPE *setContinuousStates = nullptr;
    fmi2GetDerivativesTYPE *getDerivatives = nullptr;
    fmi2GetEventIndicatorsTYPE *getEventIndicators = nullptr;
    fmi2GetContinuousStatesTYPE *getContinuousStates = nullptr;
    fmi2GetNominalsOfContinuousStatesTYPE *getNominalsOfContinuousStates = nullptr;
    fmi2SetRealInputDerivativesTYPE *setRealInputDerivatives = nullptr;
    fmi2GetRealOutputDerivativesTYPE *getRealOutputDerivatives = nullptr;
    fmi2DoStepTYPE *doStep = nullptr;
    fmi2CancelStepTYPE *cancelStep = nullptr;
    fmi2GetStatusTYPE *getStatus = nullptr;
    fmi2GetRealStatusTYPE *getRealStatus = nullptr;
    fmi2GetIntegerStatusTYPE *getIntegerStatus = nullptr;
    fmi2GetBooleanStatusTYPE *getBooleanStatus = nullptr;
    fmi2GetStringStatusTYPE *getStringStatus = nullptr;
};

inline constexpr int FMI2_FUNCTION_COUNT = 44;

// Owns one loaded copy of a shared library. Move-only; unloads on destruction.
class FmuLibrary {
  public:
    FmuLibrary() = default;
    FmuLibrary(const FmuLibrary &) = delete;
    FmuLibrary &operator=(const FmuLibrary &) = delete;
    FmuLibrary(FmuLibrary &&other) noexcept;
    FmuLibrary &operator=(FmuLibrary &&other) noexcept;
    ~FmuLibrary();

    // Loads the library at path and resolves every function. On failure
    // returns false and error() says which step failed (load or the name of
    // the first missing function).
    bool load(const std::string &path);

    // Loads a private copy of the library (copied to a unique temporary file
    // that is removed on unload), so that its static data is in its
    // first-load state whatever this process loaded before.
    bool loadFreshCopy(const std::string &path);

    bool loaded() const { return handle_ != nullptr; }
    const Fmi2Functions &fmi() const { return functions_; }
    const std::string &error() const { return error_; }

    void unload();

  private:
    void *handle_ = nullptr;
    std::string copyPath_;
    std::string error_;
    Fmi2Functions functions_{};
};

} // namespace kestrune::master
