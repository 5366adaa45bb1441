#include "partial_file.h"

#include "interruption.h"
#include "temporary_paths.h"

#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <process.h>
#define KESTRUNE_PROCESS_ID _getpid
#else
#include <unistd.h>
#define KESTRUNE_PROCESS_ID ::getpid
#endif

namespace kestrune {

std::string partialPathOf(const std::string &finalPath) {
    return finalPath + "." + std::to_string(KESTRUNE_PROCESS_ID()) + ".partial";
}

PartialFile::PartialFile(std::string finalPath)
    : final_(std::move(finalPath)), partial_(partialPathOf(final_)) {
    // Remembered with the interruption held off, so that an interruption
    // either finds it remembered or comes before it is named at all.
    const InterruptionHold hold = holdOffInterruption();
    rememberTemporary(partial_);
}

PartialFile::~PartialFile() {
    if (!settled_)
        discard();
}

std::string PartialFile::commit() {
    const InterruptionHold hold = holdOffInterruption();
    std::error_code ec;
    std::filesystem::rename(partial_, final_, ec);
    if (ec) {
        const std::string problem = "cannot rename " + partial_ + " to " + final_ + ": " + ec.message();
        discard();
        return problem;
    }
    forgetTemporary(partial_);
    settled_ = true;
    return "";
}

void PartialFile::keep() {
    forgetTemporary(partial_);
    settled_ = true;
}

void PartialFile::discard() {
    std::error_code ignored;
    std::filesystem::remove(partial_, ignored);
    forgetTemporary(partial_);
    settled_ = true;
}

std::string writeWholeFile(const std::string &path, std::string_view content) {
    PartialFile partial(path);
    std::ofstream file(partial.path(), std::ios::binary | std::ios::trunc);
    file.write(content.data(), static_cast<std::streamsize>(content.size()));
    file.close();
    if (!file)
        return "writing " + path + " failed";
    return partial.commit();
}

} // namespace kestrune
