#pragma once
// Loopback helpers shared by the simulator's tests: a UDP socket that plays the
// tool's part, and a scratch directory.

#include "link/config_frame.h"
#include "net/socket_layer.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace vantoro::sim::testing {

// Generous: only a broken simulator ever waits this long.
inline constexpr int kReceiveTimeoutMs = 10000;

inline std::uint32_t Loopback(const char* text)
{
    return net::InetAddr(text);
}

struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::uint32_t from_addr = 0; // network byte order
    std::uint16_t from_port = 0;

    Frame frame() const
    {
        Frame f{};
        for (std::size_t i = 0; i < f.size() && i < bytes.size(); ++i)
            f[i] = bytes[i];
        return f;
    }
};

class UdpEndpoint {
public:
    // Binds addr:port; port 0 takes whatever the system gives (see port()).
    explicit UdpEndpoint(const char* addr = "127.0.0.1", std::uint16_t port = 0)
        : socket_(net::OpenBoundUdpSocket(Loopback(addr), port))
    {
        if (socket_.valid())
            port_ = net::LocalPort(socket_.get());
    }
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    bool bound() const { return socket_.valid(); }
    std::uint16_t port() const { return port_; }

    bool SendTo(const void* data, std::size_t n, const char* addr, std::uint16_t port) const
    {
        return net::SendTo(socket_.get(), data, n, Loopback(addr), port) == long(n);
    }

    // One datagram, or none when nothing came within timeout_ms.
    std::optional<Datagram> Receive(int timeout_ms = kReceiveTimeoutMs) const
    {
        if (!net::WaitReadable(socket_.get(), timeout_ms))
            return std::nullopt;
        Datagram d;
        d.bytes.resize(65536);
        const long n = net::ReceiveFrom(socket_.get(), d.bytes.data(), d.bytes.size(), &d.from_addr, &d.from_port);
        if (n < 0)
            return std::nullopt;
        d.bytes.resize(std::size_t(n));
        return d;
    }

private:
    net::UniqueFd socket_;
    std::uint16_t port_ = 0;
};

// Like the tool: a fresh socket for each transmission, from a port the system picks.
inline bool SendFrom(const char* from_addr, const Frame& frame, std::uint16_t to_port, const char* to_addr = "127.0.0.1")
{
    UdpEndpoint once(from_addr);
    return once.bound() && once.SendTo(frame.data(), frame.size(), to_addr, to_port);
}

inline Frame RequestFrame(std::uint32_t command, std::uint8_t fill = 0xEE)
{
    Frame f;
    f.fill(fill);
    SetFrameCommand(f, command);
    SetFrameReplyMode(f, 1);
    return f;
}

class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "camera-sim-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::string& path)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace vantoro::sim::testing
