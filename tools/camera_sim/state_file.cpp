#include "tools/camera_sim/state_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vantoro::sim {

std::vector<std::uint8_t> EncodeState(const std::vector<VirtualCamera>& cameras)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(cameras.size() * kStateBytesPerCamera);
    for (const VirtualCamera& c : cameras) {
        bytes.insert(bytes.end(), c.mac.begin(), c.mac.end());
        for (const Frame* f : {&c.records.general, &c.records.user, &c.records.domain})
            bytes.insert(bytes.end(), f->begin(), f->end());
    }
    return bytes;
}

std::optional<std::vector<VirtualCamera>> DecodeState(const std::vector<std::uint8_t>& bytes)
{
    if (bytes.size() % kStateBytesPerCamera != 0)
        return std::nullopt;
    std::vector<VirtualCamera> cameras(bytes.size() / kStateBytesPerCamera);
    auto at = bytes.begin();
    for (VirtualCamera& c : cameras) {
        std::copy_n(at, kMacSize, c.mac.begin());
        at += kMacSize;
        for (Frame* f : {&c.records.general, &c.records.user, &c.records.domain}) {
            std::copy_n(at, kFrameSize, f->begin());
            at += kFrameSize;
        }
    }
    return cameras;
}

Error WriteStateFile(const std::string& path, const std::vector<VirtualCamera>& cameras)
{
    const std::vector<std::uint8_t> bytes = EncodeState(cameras);
    const std::string temp = path + ".tmp";
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f)
        return "cannot create " + temp + ": " + std::strerror(errno);
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !written) {
        std::remove(temp.c_str());
        return "cannot write " + temp;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temp.c_str());
        return "cannot rename " + temp + " to " + path + ": " + reason;
    }
    return std::nullopt;
}

std::optional<std::vector<VirtualCamera>> ReadStateFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return DecodeState(bytes);
}

} // namespace vantoro::sim
