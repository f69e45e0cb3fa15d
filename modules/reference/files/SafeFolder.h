#pragma once
// The one folder file commands may touch. Inputs are opened below it without
// following any symbolic link; outputs are written to a private temporary
// file next to their final name and only renamed into place once complete,
// so a failed command never leaves a partial file.

#include <string>
#include <string_view>

#include "files/SafePath.h"
#include "files/UniqueFd.h"

namespace ref {

// An output being written. Unless Commit succeeds, the temporary file is
// removed when the object goes away.
class OutputFile {
  public:
    OutputFile(UniqueFd parent, std::string name, std::string tempName, UniqueFd fd);
    OutputFile(OutputFile&&) noexcept = default;
    OutputFile& operator=(OutputFile&&) = delete;
    ~OutputFile();

    int fd() const { return fd_.get(); }

    // Flushes the data and gives the file its final name. Throws
    // Failure(kFile) when a file of that name appeared meanwhile (nothing is
    // replaced) or the disk refused.
    void Commit();

  private:
    UniqueFd parent_;
    std::string name_;
    std::string tempName_;
    UniqueFd fd_;
    bool done_ = false;
};

class SafeFolder {
  public:
    // Creates the folder (0700) when missing. Throws Failure(kFile) when it
    // cannot, or when it is not a private folder of this user.
    explicit SafeFolder(std::string dir, Resolver resolver = Resolver::kAuto);

    const std::string& path() const { return dir_; }
    int fd() const { return fd_.get(); }

    // The full path a page's relative path stands for (after checking it).
    std::string FullPath(std::string_view relative) const;

    // An existing regular file, for reading. Throws kPolicy (see
    // SplitRelativePath, OpenBeneath) or kFile (missing, not a file).
    UniqueFd OpenInput(std::string_view relative) const;

    // A new file, mode 0600, in an existing folder below this one. Throws
    // kPolicy as OpenInput does (also when the name is a symbolic link) and
    // kFile when the name exists already.
    OutputFile CreateOutput(std::string_view relative) const;

  private:
    std::string dir_;
    Resolver resolver_;
    UniqueFd fd_;
};

}  // namespace ref
