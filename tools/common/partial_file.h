// An output file written under a name of its own (NAME.PID.partial) and
// renamed to NAME once whole, so that NAME is always either the earlier
// complete file or the new complete one. The partial file is remembered
// among the temporaries, so that an interruption removes it.
#pragma once

#include <string>
#include <string_view>

namespace kestrune {

// NAME.PID.partial: named for this process too, so that two runs writing
// into one folder never truncate or remove each other's partial files.
std::string partialPathOf(const std::string &finalPath);

class PartialFile {
  public:
    // Remembers the partial path; the caller writes it.
    explicit PartialFile(std::string finalPath);
    // Removes the partial file unless it was committed or kept.
    ~PartialFile();
    PartialFile(const PartialFile &) = delete;
    PartialFile &operator=(const PartialFile &) = delete;

    const std::string &path() const { return partial_; }
    const std::string &finalPath() const { return final_; }

    // Renames the partial file to its final name: "" or what failed (the
    // partial file is then removed).
    std::string commit();
    // Leaves the partial file where it is, for the user to look at, and no
    // longer removes it.
    void keep();
    // Removes the partial file now.
    void discard();

  private:
    std::string final_;
    std::string partial_;
    bool settled_ = false;
};

// Writes content to path through a partial file: "" or what failed
// ("writing PATH failed" or "cannot rename ..."); an earlier file at path
// stays as it was unless the new one is whole.
std::string writeWholeFile(const std::string &path, std::string_view content);

} // namespace kestrune
