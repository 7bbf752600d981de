#pragma once
// Shared pieces of the link tests: an observer that records the link's events,
// a loopback socket that stands in for a camera, and reply frames.

#include "link/apply_steps.h"
#include "link/config_frame.h"
#include "link/link_observer.h"
#include "net/socket_layer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::testing {

// What the link tells its observer, one word per event.
enum class Event { CameraFound, UserAcknowledged, DomainAcknowledged, GeneralAcknowledged };

inline Event AcknowledgedEvent(ApplyStep step)
{
    switch (step) {
    case ApplyStep::User: return Event::UserAcknowledged;
    case ApplyStep::Domain: return Event::DomainAcknowledged;
    case ApplyStep::General: break;
    }
    return Event::GeneralAcknowledged;
}

struct SeenEvent {
    Event event;
    MacAddress camera; // the camera found, or the one that acknowledged
};

class RecordingObserver : public LinkObserver {
public:
    // False: a front end with nowhere to show these (no camera list, no
    // progress dialog), which lets them pass unrecorded.
    bool hears_found = true;
    bool hears_steps = true;
    std::string wan_text = "127.0.0.1";
    // Runs inside CameraFound / StepAcknowledged / WanAddressText, on the caller's thread.
    std::function<void(Event)> on_event;
    std::function<void()> on_wan_read;
    // Whether an acknowledgement may send the next record; none: always.
    std::function<bool(const Frame&)> may_drive;

    void CameraFound(const MacAddress& mac) override { Record(Event::CameraFound, mac); }
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) override
    {
        Record(AcknowledgedEvent(step), FrameMac(acknowledgement));
    }
    std::string WanAddressText() override
    {
        if (on_wan_read)
            on_wan_read();
        return wan_text;
    }
    bool MayDriveSequence(ApplyStep, const Frame& acknowledgement) override
    {
        return !may_drive || may_drive(acknowledgement);
    }
    void AnswersDropped(std::uint64_t total) override { drops_told.store(total); }
    std::atomic<std::uint64_t> drops_told{0}; // the last total the receiver told of
    std::vector<SeenEvent> seen()
    {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    std::size_t count(Event event)
    {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& e : seen_)
            n += e.event == event;
        return n;
    }

private:
    void Record(Event event, const MacAddress& camera)
    {
        if (!(event == Event::CameraFound ? hears_found : hears_steps))
            return;
        if (on_event)
            on_event(event);
        std::lock_guard lock(mutex_);
        seen_.push_back({event, camera});
    }

    std::mutex mutex_;
    std::vector<SeenEvent> seen_;
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
