// A unit's shared library loaded at run time, with all the functions of its
// edition resolved (44 fmi2 or 75 fmi3), as a master loads it.
#pragma once

#include "fmu/fmi2.h"
#include "fmu/fmi3/fmi3.h"

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

// The FMI 3.0 functions, each under its own name.
struct Fmi3Functions {
#define KESTRUNE_FMI3_POINTER(Name) fmi3##Name##TYPE *fmi3##Name = nullptr;
    KESTRUNE_FMI3_FUNCTIONS(KESTRUNE_FMI3_POINTER)
#undef KESTRUNE_FMI3_POINTER
};

inline constexpr int FMI3_FUNCTION_COUNT = 75;

// Which standard's functions a library is loaded with.
enum class FmiEdition { Fmi2, Fmi3 };

// Owns one loaded copy of a shared library. Move-only; unloads on destruction.
class FmuLibrary {
  public:
    FmuLibrary() = default;
    FmuLibrary(const FmuLibrary &) = delete;
    FmuLibrary &operator=(const FmuLibrary &) = delete;
    FmuLibrary(FmuLibrary &&other) noexcept;
    FmuLibrary &operator=(FmuLibrary &&other) noexcept;
    ~FmuLibrary();

    // Loads the library at path and resolves every function of the edition.
    // On failure returns false and error() says which step failed (load or
    // the name of the first missing function).
    bool load(const std::string &path, FmiEdition edition = FmiEdition::Fmi2);

    // Loads a private copy of the library (copied to a unique temporary file
    // that is removed on unload), so that its static data is in its
    // first-load state whatever this process loaded before.
    bool loadFreshCopy(const std::string &path, FmiEdition edition = FmiEdition::Fmi2);

    bool loaded() const { return handle_ != nullptr; }
    FmiEdition edition() const { return edition_; }
    // The functions of the edition loaded; the other table is all null.
    const Fmi2Functions &fmi() const { return functions_; }
    const Fmi3Functions &fmi3() const { return functions3_; }
    const std::string &error() const { return error_; }

    void unload();

  private:
    void *handle_ = nullptr;
    std::string copyPath_;
    std::string error_;
    FmiEdition edition_ = FmiEdition::Fmi2;
    Fmi2Functions functions_{};
    Fmi3Functions functions3_{};
};

} // namespace kestrune::master
