#pragma once
// apply's --report file.

#include <string>

namespace vantoro::cli {

// The report goes into a new file beside the one named and takes its name
// only once there is something to report, so a run that ends before that (the
// tool port taken) leaves an old report as it was.
class ReportFile {
public:
    ReportFile() = default;
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;
    ~ReportFile();
    // The new file beside path; false (errno set) when it cannot be made.
    bool Open(const std::string& path);
    bool is_open() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }
    // Writes text, syncs, and renames the file over path; false when any step failed.
    bool Commit(const std::string& text);

private:
    std::string path_, temp_;
    int fd_ = -1;
};

} // namespace vantoro::cli
