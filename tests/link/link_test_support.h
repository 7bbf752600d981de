#pragma once
// Shared pieces of the link tests: a LinkWindows that records what it is sent,
// a loopback socket that stands in for a camera, and reply frames.

#include "link/config_frame.h"
#include "link/window_messages.h"
#include "net/socket_layer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::testing {

struct SentMessage {
    LinkWindow target;
    std::uint32_t message;
};

class RecordingWindows : public LinkWindows {
public:
    bool net_page_exists = true;
    bool progress_exists = true;
    std::string wan_text = "127.0.0.1";
    // Runs inside SendToWindow / WanAddressText, on the caller's thread.
    std::function<void(LinkWindow, std::uint32_t)> on_message;
    std::function<void()> on_wan_read;
    // Whether an acknowledgement may send the next record; none: always.
    std::function<bool(const Frame&)> may_drive;

    bool SendToWindow(LinkWindow target, std::uint32_t message) override
    {
        const bool exists = target == LinkWindow::NetConfigPage ? net_page_exists : progress_exists;
        if (!exists)
            return false;
        if (on_message)
            on_message(target, message);
        std::lock_guard lock(mutex_);
        messages_.push_back({target, message});
        return true;
    }
    std::string WanAddressText() override
    {
        if (on_wan_read)
            on_wan_read();
        return wan_text;
    }
    bool MayDriveSequence(const Frame& acknowledgement) override
    {
        return !may_drive || may_drive(acknowledgement);
    }
    void AnswersDropped(std::uint64_t total) override { drops_told.store(total); }
    std::atomic<std::uint64_t> drops_told{0}; // the last total the receiver told of
    std::vector<SentMessage> messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::size_t count(std::uint32_t message)
    {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& m : messages_)
            n += m.message == message;
        return n;
    }

private:
    std::mutex mutex_;
    std::vector<SentMessage> messages_;
};

inline std::uint32_t Loopback(const char* text) { return net::InetAddr(text); }

// A UDP socket on a loopback address that catches what the tool sends.
class UdpCapture {
public:
    explicit UdpCapture(const char* address = "127.0.0.1", std::uint16_t port = 0)
    {
        socket_ = net::OpenUdpSocket();
        bound_ = net::Bind(socket_.get(), Loopback(address), port);
        port_ = net::LocalPort(socket_.get());
    }
    UdpCapture(const UdpCapture&) = delete;
    UdpCapture& operator=(const UdpCapture&) = delete;

    bool bound() const { return bound_; }
    std::uint16_t port() const { return port_; }
    net::Socket socket() const { return socket_.get(); }

    struct Datagram {
        std::vector<std::uint8_t> bytes;
        std::uint16_t from_port = 0;
        Frame frame() const
        {
            Frame f{};
            std::copy_n(bytes.begin(), std::min(bytes.size(), f.size()), f.begin());
            return f;
        }
    };
    // Waits up to timeout for one datagram.
    std::optional<Datagram> Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000))
    {
        if (!net::WaitReadable(socket_.get(), int(timeout.count())))
            return std::nullopt;
        Datagram d;
        d.bytes.resize(65536);
        const long n = net::ReceiveFrom(socket_.get(), d.bytes.data(), d.bytes.size(), nullptr, &d.from_port);
        if (n < 0)
            return std::nullopt;
        d.bytes.resize(std::size_t(n));
        return d;
    }
    bool Quiet(std::chrono::milliseconds wait = std::chrono::milliseconds(100))
    {
        return !net::WaitReadable(socket_.get(), int(wait.count()));
    }

private:
    net::UniqueFd socket_;
    bool bound_ = false;
    std::uint16_t port_ = 0;
};

// A port that was free a moment ago, for a receiver that binds by number.
inline std::uint16_t FreeUdpPort()
{
    UdpCapture probe("127.0.0.1", 0);
    return probe.port();
}

inline Frame MakeFrame(std::uint32_t command, const MacAddress& mac, std::uint8_t fill = 0)
{
    Frame f{};
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = std::uint8_t(fill + i * 7);
    SetFrameCommand(f, command);
    SetFrameReplyMode(f, 0xA5A5A5A5);
    SetFrameMac(f, mac);
    return f;
}

inline MacAddress Mac(std::uint8_t last, std::uint8_t first = 0x00)
{
    return {first, 0x0A, 0x0B, 0x00, 0x00, last};
}

} // namespace vantoro::testing
