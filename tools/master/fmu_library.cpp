// Loading the unit's shared library and resolving the functions of its
// edition. The
// platform calls live in the small functions of the first namespace block, so
// a Windows build replaces only those.
#include "fmu_library.h"

#include "common/interruption.h"
#include "common/temporary_paths.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace kestrune::master {

namespace {

// ---- Platform layer -------------------------------------------------------

#ifdef _WIN32

constexpr const char *LIBRARY_SUFFIX = ".dll";

std::string lastSystemError() {
    const DWORD code = GetLastError();
    char *text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message =
        length != 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message;
}

void *openLibrary(const std::string &path, std::string &error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr)
        error = lastSystemError();
    return reinterpret_cast<void *>(module);
}

void *findSymbol(void *handle, const char *name) {
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void closeLibrary(void *handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}

// Creates an empty file with a unique name in the temporary directory and
// returns its path, or "" with error set.
std::string createUniqueTempFile(std::string &error) {
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (GetTempPathA(sizeof directory, directory) == 0 || GetTempFileNameA(directory, "kst", 0, name) == 0) {
        error = lastSystemError();
        return {};
    }
    // GetTempFileName made "<name>.tmp"; the loader wants the library suffix.
    std::string path = std::string(name) + LIBRARY_SUFFIX;
    if (!MoveFileA(name, path.c_str())) {
        error = lastSystemError();
        DeleteFileA(name);
        return {};
    }
    return path;
}

#else

constexpr const char *LIBRARY_SUFFIX = ".so";

void *openLibrary(const std::string &path, std::string &error) {
    dlerror();
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *text = dlerror();
        error = text != nullptr ? text : "unknown loader error";
    }
    return handle;
}

void *findSymbol(void *handle, const char *name) {
    return dlsym(handle, name);
}

void closeLibrary(void *handle) {
    dlclose(handle);
}

std::string createUniqueTempFile(std::string &error) {
    std::error_code ec;
    std::filesystem::path directory = std::filesystem::temp_directory_path(ec);
    if (ec)
        directory = "/tmp";
    std::string pattern = (directory / "kestrune-XXXXXX").string() + LIBRARY_SUFFIX;
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemps(buffer.data(), static_cast<int>(std::strlen(LIBRARY_SUFFIX)));
    if (fd < 0) {
        error = "cannot create a temporary file from " + pattern + ": " + std::strerror(errno);
        return {};
    }
    close(fd);
    return std::string(buffer.data());
}

#endif

// ---- Resolution of the 44 fmi2 or 75 fmi3 functions -------------------------

template <typename Function> Function *asFunction(void *symbol) {
    // The loader hands out object pointers; the platform guarantees that
    // they convert to function pointers. memcpy keeps that conversion out of
    // the compiler's conditionally-supported casts.
    static_assert(sizeof(Function *) == sizeof(void *));
    Function *function = nullptr;
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

// Resolves every function; returns the name of the first one missing, or
// null when all were found.
const char *resolveAll(void *handle, Fmi2Functions &f) {
    int resolved = 0;
    const char *missing = nullptr;
    auto resolve = [&](const char *name, auto *&target) {
        if (missing != nullptr)
            return;
        void *symbol = findSymbol(handle, name);
        if (symbol == nullptr) {
            missing = name;
            return;
        }
        target = asFunction<std::remove_pointer_t<std::remove_reference_t<decltype(target)>>>(symbol);
        ++resolved;
    };

    resolve("fmi2GetTypesPlatform", f.getTypesPlatform);
    resolve("fmi2GetVersion", f.getVersion);
    resolve("fmi2SetDebugLogging", f.setDebugLogging);
    resolve("fmi2Instantiate", f.instantiate);
    resolve("fmi2FreeInstance", f.freeInstance);
    resolve("fmi2SetupExperiment", f.setupExperiment);
    resolve("fmi2EnterInitializationMode", f.enterInitializationMode);
    resolve("fmi2ExitInitializationMode", f.exitInitializationMode);
    resolve("fmi2Terminate", f.terminate);
    resolve("fmi2Reset", f.reset);
    resolve("fmi2GetReal", f.getReal);
    resolve("fmi2GetInteger", f.getInteger);
    resolve("fmi2GetBoolean", f.getBoolean);
    resolve("fmi2GetString", f.getString);
    resolve("fmi2SetReal", f.setReal);
    resolve("fmi2SetInteger", f.setInteger);
    resolve("fmi2SetBoolean", f.setBoolean);
    resolve("fmi2SetString", f.setString);
    resolve("fmi2GetFMUstate", f.getFMUstate);
    resolve("fmi2SetFMUstate", f.setFMUstate);
    resolve("fmi2FreeFMUstate", f.freeFMUstate);
    resolve("fmi2SerializedFMUstateSize", f.serializedFMUstateSize);
    resolve("fmi2SerializeFMUstate", f.serializeFMUstate);
    resolve("fmi2DeSerializeFMUstate", f.deSerializeFMUstate);
    resolve("fmi2GetDirectionalDerivative", f.getDirectionalDerivative);
    resolve("fmi2EnterEventMode", f.enterEventMode);
    resolve("fmi2NewDiscreteStates", f.newDiscreteStates);
    resolve("fmi2EnterContinuousTimeMode", f.enterContinuousTimeMode);
    resolve("fmi2CompletedIntegratorStep", f.completedIntegratorStep);
    resolve("fmi2SetTime", f.setTime);
    resolve("fmi2SetContinuousStates", f.setContinuousStates);
    resolve("fmi2GetDerivatives", f.getDerivatives);
    resolve("fmi2GetEventIndicators", f.getEventIndicators);
    resolve("fmi2GetContinuousStates", f.getContinuousStates);
    resolve("fmi2GetNominalsOfContinuousStates", f.getNominalsOfContinuousStates);
    resolve("fmi2SetRealInputDerivatives", f.setRealInputDerivatives);
    resolve("fmi2GetRealOutputDerivatives", f.getRealOutputDerivatives);
    resolve("fmi2DoStep", f.doStep);
    resolve("fmi2CancelStep", f.cancelStep);
    resolve("fmi2GetStatus", f.getStatus);
    resolve("fmi2GetRealStatus", f.getRealStatus);
    resolve("fmi2GetIntegerStatus", f.getIntegerStatus);
    resolve("fmi2GetBooleanStatus", f.getBooleanStatus);
    resolve("fmi2GetStringStatus", f.getStringStatus);

    if (missing == nullptr && resolved != FMI2_FUNCTION_COUNT)
        return "(function count mismatch)";
    return missing;
}

const char *resolveAll(void *handle, Fmi3Functions &f) {
    int resolved = 0;
    const char *missing = nullptr;
#define KESTRUNE_FMI3_RESOLVE(Name)                                                                          \
    if (missing == nullptr) {                                                                                \
        if (void *symbol = findSymbol(handle, "fmi3" #Name)) {                                               \
            f.fmi3##Name = asFunction<fmi3##Name##TYPE>(symbol);                                             \
            ++resolved;                                                                                      \
        } else {                                                                                             \
            missing = "fmi3" #Name;                                                                          \
        }                                                                                                    \
    }
    KESTRUNE_FMI3_FUNCTIONS(KESTRUNE_FMI3_RESOLVE)
#undef KESTRUNE_FMI3_RESOLVE
    if (missing == nullptr && resolved != FMI3_FUNCTION_COUNT)
        return "(function count mismatch)";
    return missing;
}

bool copyFile(const std::string &from, const std::string &to, std::string &error) {
    std::ifstream in(from, std::ios::binary);
    if (!in) {
        error = "cannot open " + from + " for reading";
        return false;
    }
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot open " + to + " for writing";
        return false;
    }
    out << in.rdbuf();
    out.flush();
    if (!out || in.bad()) {
        error = "cannot copy " + from + " to " + to;
        return false;
    }
    return true;
}

// Removes a private copy and drops it from the tool's temporary paths.
void removeFile(const std::string &path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    forgetTemporary(path);
}

} // namespace

// ---- FmuLibrary ---------------------------------------------------------------

FmuLibrary::FmuLibrary(FmuLibrary &&other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), copyPath_(std::move(other.copyPath_)),
      error_(std::move(other.error_)), edition_(other.edition_),
      functions_(std::exchange(other.functions_, Fmi2Functions{})),
      functions3_(std::exchange(other.functions3_, Fmi3Functions{})) {
    other.copyPath_.clear();
}

FmuLibrary &FmuLibrary::operator=(FmuLibrary &&other) noexcept {
    if (this != &other) {
        unload();
        handle_ = std::exchange(other.handle_, nullptr);
        copyPath_ = std::move(other.copyPath_);
        other.copyPath_.clear();
        error_ = std::move(other.error_);
        edition_ = other.edition_;
        functions_ = std::exchange(other.functions_, Fmi2Functions{});
        functions3_ = std::exchange(other.functions3_, Fmi3Functions{});
    }
    return *this;
}

FmuLibrary::~FmuLibrary() {
    unload();
}

bool FmuLibrary::load(const std::string &path, FmiEdition edition) {
    unload();
    error_.clear();

    std::string loaderError;
    void *handle = openLibrary(path, loaderError);
    if (handle == nullptr) {
        error_ = "cannot load " + path + ": " + loaderError;
        return false;
    }

    Fmi2Functions functions{};
    Fmi3Functions functions3{};
    const char *missing =
        edition == FmiEdition::Fmi3 ? resolveAll(handle, functions3) : resolveAll(handle, functions);
    if (missing != nullptr) {
        error_ = path + " does not export " + missing;
        closeLibrary(handle);
        return false;
    }

    handle_ = handle;
    edition_ = edition;
    functions_ = functions;
    functions3_ = functions3;
    return true;
}

bool FmuLibrary::loadFreshCopy(const std::string &path, FmiEdition edition) {
    unload();
    error_.clear();

    std::string problem;
    std::string copy;
    {
        // Made and remembered as one, so that an interruption cannot come
        // between them and miss the file.
        const InterruptionHold hold = holdOffInterruption();
        copy = createUniqueTempFile(problem);
        if (!copy.empty())
            rememberTemporary(copy);
    }
    if (copy.empty()) {
        error_ = "cannot make a private copy of " + path + ": " + problem;
        return false;
    }
    if (!copyFile(path, copy, problem)) {
        removeFile(copy);
        error_ = "cannot make a private copy of " + path + ": " + problem;
        return false;
    }
    if (!load(copy, edition)) {
        removeFile(copy);
        return false;
    }
    copyPath_ = copy;
    return true;
}

void FmuLibrary::unload() {
    if (handle_ != nullptr) {
        closeLibrary(handle_);
        handle_ = nullptr;
    }
    functions_ = Fmi2Functions{};
    functions3_ = Fmi3Functions{};
    if (!copyPath_.empty()) {
        removeFile(copyPath_);
        copyPath_.clear();
    }
}

} // namespace kestrune::master
