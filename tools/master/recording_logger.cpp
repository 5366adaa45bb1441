// The master's logger and stepFinished callbacks.
#include "recording_logger.h"

#include <cstdarg>
#include <cstdio>

namespace kestrune::master {

namespace {

std::string formatMessage(const char *format, va_list args) {
    if (format == nullptr)
        return {};
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length <= 0)
        return {};
    // The string's own buffer holds length characters plus its terminator,
    // so vsnprintf may write length + 1 bytes into it.
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

} // namespace

const char *statusName(fmi2Status status) {
    switch (status) {
    case fmi2OK:
        return "fmi2OK";
    case fmi2Warning:
        return "fmi2Warning";
    case fmi2Discard:
        return "fmi2Discard";
    case fmi2Error:
        return "fmi2Error";
    case fmi2Fatal:
        return "fmi2Fatal";
    case fmi2Pending:
        return "fmi2Pending";
    }
    return "fmi2Status(?)";
}

RecordingLogger::RecordingLogger() {
    callbacks_.logger = &RecordingLogger::logger;
    callbacks_.allocateMemory = nullptr;
    callbacks_.freeMemory = nullptr;
    callbacks_.stepFinished = nullptr;
    callbacks_.componentEnvironment = this;
}

void RecordingLogger::enableStepFinished(bool on) {
    callbacks_.stepFinished = on ? &RecordingLogger::stepFinished : nullptr;
}

void RecordingLogger::clear() {
    messages.clear();
    stepsFinished.clear();
}

std::size_t RecordingLogger::count(const std::string &message) const {
    std::size_t n = 0;
    for (const LogRecord &record : messages)
        if (record.message == message)
            ++n;
    return n;
}

void RecordingLogger::logger(fmi2ComponentEnvironment env, fmi2String instanceName, fmi2Status status,
                             fmi2String category, fmi2String message, ...) {
    auto *self = static_cast<RecordingLogger *>(env);
    if (self != nullptr && status == fmi2OK && !self->echo_ && !self->recordOk_)
        return;
    va_list args;
    va_start(args, message);
    std::string text = formatMessage(message, args);
    va_end(args);

    if (self == nullptr)
        return;
    self->record(LogRecord{instanceName != nullptr ? instanceName : "", status,
                           category != nullptr ? category : "", std::move(text)});
}

void RecordingLogger::logMessage3(fmi3InstanceEnvironment env, fmi3Status status, fmi3String category,
                                  fmi3String message) {
    auto *self = static_cast<RecordingLogger *>(env);
    if (self == nullptr || (status == fmi3OK && !self->echo_ && !self->recordOk_))
        return;
    self->record(LogRecord{"", static_cast<fmi2Status>(status), category != nullptr ? category : "",
                           message != nullptr ? message : ""});
}

void RecordingLogger::record(LogRecord entry) {
    if (echo_)
        std::fprintf(stderr, "[%s] %s %s: %s\n", entry.instanceName.c_str(), statusName(entry.status),
                     entry.category.c_str(), entry.message.c_str());
    messages.push_back(std::move(entry));
}

void RecordingLogger::stepFinished(fmi2ComponentEnvironment env, fmi2Status status) {
    auto *self = static_cast<RecordingLogger *>(env);
    if (self == nullptr)
        return;
    if (self->echo_)
        std::fprintf(stderr, "[stepFinished] %s\n", statusName(status));
    self->stepsFinished.push_back(StepFinishedRecord{status});
}

} // namespace kestrune::master
