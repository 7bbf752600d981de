#pragma once
// Opening and appending to the journal of changes without trusting what is
// at its path. The folder and the file are opened from the state folder with
// openat and O_NOFOLLOW, so no symlink in either is followed; the file never
// blocks on opening (O_NONBLOCK, then a regular file only), and both must be
// the user's own and not writable by anyone else, or the journal is not used.

#include "util/result.h"
#include <optional>
#include <string>
#include <string_view>

namespace vantoro::ops {

enum class JournalAccess { Append, Read };

struct JournalFd {
    int fd = -1; // -1: not opened
    std::string error; // why not, e.g. "its folder /x/vantoro belongs to another user"; empty with fd -1: no
                       // journal yet (Read only)
};

// path is <state folder>/<folder>/<file>. Append makes the folders (0700)
// and the file (0600) when missing; Read makes nothing.
JournalFd OpenJournalFile(const std::string& path, JournalAccess access);

// Appends the line whole or not at all: under an exclusive lock, and a failed
// or short write is cut back to where the file ended, so the next line never
// lands glued to half of this one. The reason when it failed.
Error AppendJournalLine(int fd, std::string_view line);

} // namespace vantoro::ops
