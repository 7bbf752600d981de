#include "tools/camera_sim/sim_log.h"

#include <cerrno>
#include <cstring>

namespace vantoro::sim {

SimLog::SimLog() : stream_(stderr) {}

SimLog::~SimLog()
{
    if (owned_)
        std::fclose(stream_);
}

Error SimLog::OpenFile(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "a");
    if (!f)
        return "cannot open log " + path + ": " + std::strerror(errno);
    std::lock_guard guard(lock_);
    if (owned_)
        std::fclose(stream_);
    stream_ = f;
    owned_ = true;
    return std::nullopt;
}

void SimLog::Line(const std::string& text)
{
    std::lock_guard guard(lock_);
    std::fprintf(stream_, "camera-sim: %s\n", text.c_str());
    std::fflush(stream_);
}

} // namespace vantoro::sim
