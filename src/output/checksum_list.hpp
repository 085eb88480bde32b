#pragma once
// The checksum list a folder export leaves beside its files: SHA256SUMS, one
// line "HASH  NAME" per file in the order the files took their final names,
// as `sha256sum -c` reads it. A line is added once its file is whole and
// renamed, so the list names only whole files, also after a failure; it is
// the record of what a run finished.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/output_file.hpp"
#include "platform/sha256.hpp"

namespace quilbex::output {

inline constexpr std::string_view checksumListName = "SHA256SUMS";

// The list's line for a file, with its line end.
std::string checksumLine(const platform::Sha256Digest& digest, std::string_view name);
// Its length, known before the file's bytes are.
uint64_t checksumLineLength(std::string_view name);

// Each call returns no error on success, else the system's reason.
class ChecksumList {
public:
    // Makes a new, empty list at path, replacing a file or link there (the
    // link itself, never what it points to).
    platform::SystemError create(const std::string& path);
    platform::SystemError add(const platform::Sha256Digest& digest, std::string_view name);
    // Flushes the list to the disk and closes it.
    platform::SystemError finish();

    bool made() const { return made_; }

private:
    platform::OutputFile file_;
    bool made_ = false;  // created and not yet finished
};

}  // namespace quilbex::output
