// The master's logger callback: formats each message with vsnprintf and
// records it, with the instance name, status and category it came with.
#pragma once

#include "fmu/fmi2.h"
#include "fmu/fmi3/fmi3.h"

#include <string>
#include <vector>

namespace kestrune::master {

struct LogRecord {
    std::string instanceName;
    fmi2Status status;
    std::string category;
    std::string message;
};

// "fmi2OK", "fmi2Warning", ... for printing; "fmi2Status(n)" for anything else.
const char *statusName(fmi2Status status);

struct StepFinishedRecord {
    fmi2Status status;
};

// Pass recorder.callbacks() to fmi2Instantiate, or the recorder as the
// instance environment and fmi3Callback() to an FMI 3.0 instantiation. The
// recorder is the environment of the callbacks, so it must outlive the
// instance. FMI 3.0 messages carry no instance name and keep their status
// (fmi3OK to fmi3Fatal are numbered as fmi2OK to fmi2Fatal).
class RecordingLogger {
  public:
    RecordingLogger();

    const fmi2CallbackFunctions *callbacks() const { return &callbacks_; }
    static fmi3LogMessageCallback fmi3Callback() { return &RecordingLogger::logMessage3; }

    // Turns the stepFinished callback on (it is off until then).
    void enableStepFinished(bool on);
    // When set, each message is also printed to stderr as it arrives.
    void setEcho(bool on) { echo_ = on; }
    // When off, a message with status fmi2OK that is not echoed returns at
    // once, unformatted and unrecorded: a long run then pays nothing for the
    // unit's per-step info messages. Warnings and errors are always recorded.
    void setRecordOk(bool on) { recordOk_ = on; }

    std::vector<LogRecord> messages;
    std::vector<StepFinishedRecord> stepsFinished;

    void clear();
    // Number of recorded messages whose text equals message.
    std::size_t count(const std::string &message) const;
    bool contains(const std::string &message) const { return count(message) != 0; }

  private:
    static void logger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                       fmi2String category, fmi2String message, ...);
    static void stepFinished(fmi2ComponentEnvironment env, fmi2Status status);
    static void logMessage3(fmi3InstanceEnvironment env, fmi3Status status, fmi3String category,
                            fmi3String message);
    void record(LogRecord record);

    fmi2CallbackFunctions callbacks_{};
    bool echo_ = false;
    bool recordOk_ = true;
};

} // namespace kestrune::master
