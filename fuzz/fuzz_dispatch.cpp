// Feeds a fresh camera link a program of datagrams and user actions, and after
// every step compares the link with a model of what it must hold: the registry
// (one entry per mac, each slot the last reply of its kind), the frame image,
// the observer's events and every frame put on the wire.
//
// Program, one step after another:
//   op % 10 in 0-2  raw datagram: 2-byte length (at most 65507), then the bytes
//           in 3-4  compact frame: selector, mac byte, seed byte; built to a frame
//           5       sequence camera := FindCamera(6 mac bytes)
//           6       sequence camera := the registry's entry number (1 byte)
//           7       WAN mode := low bit of the next byte
//           8       transmit: its user record, a search burst or a reset
//           9       no sequence camera
//
// Everything goes to 127.0.0.1: the broadcast address and the WAN text both
// are loopback, and the camera port is a socket this fuzzer holds and drains.

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "link/link_core.h"
#include "net/socket_layer.h"

#include <array>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <vector>

using namespace vantoro;
using vantoro::fuzz::FuzzInput;

namespace {

constexpr std::size_t kMaxDatagram = 65507;

// Stands in for a camera on loopback: catches what the link sends so nothing
// piles up, and lets each step check the frames that left.
class CameraSink {
public:
    CameraSink()
    {
        socket_ = net::OpenUdpSocket();
        FUZZ_CHECK(socket_.valid());
        FUZZ_CHECK(net::SetNonBlocking(socket_.get()));
        net::SetReceiveBuffer(socket_.get(), 1 << 20);
        FUZZ_CHECK(net::Bind(socket_.get(), net::InetAddr("127.0.0.1"), 0));
        port_ = net::LocalPort(socket_.get());
        FUZZ_CHECK(port_ != 0);
    }
    std::uint16_t port() const { return port_; }

    // Everything queued now; loopback delivers before sendto returns.
    std::vector<std::vector<std::uint8_t>> Drain()
    {
        std::vector<std::vector<std::uint8_t>> got;
        std::vector<std::uint8_t> buffer(kMaxDatagram);
        for (;;) {
            const long n = net::ReceiveFrom(socket_.get(), buffer.data(), buffer.size());
            if (n < 0)
                break;
            got.emplace_back(buffer.begin(), buffer.begin() + n);
        }
        return got;
    }

private:
    net::UniqueFd socket_;
    std::uint16_t port_ = 0;
};

CameraSink& Sink()
{
    static CameraSink sink;
    return sink;
}

// The observer's events, counted by kind: a camera found, or a step acknowledged.
enum class Told { CameraFound, UserAcknowledged, DomainAcknowledged, GeneralAcknowledged };

class FuzzObserver final : public LinkObserver {
public:
    std::map<Told, std::size_t> received;
    void CameraFound(const MacAddress&) override { ++received[Told::CameraFound]; }
    void StepAcknowledged(ApplyStep step, const Frame&) override { ++received[Told(1 + int(step))]; }
    std::string WanAddressText() override { return "127.0.0.1"; }
};

struct ModelCamera {
    std::optional<Frame> general, user, domain;
    CameraEntry* entry = nullptr; // the link's entry, once seen
};

// What the link must hold after each step.
struct Model {
    std::map<MacAddress, ModelCamera> cameras;
    Frame image{};
    std::optional<MacAddress> current;
    bool wan = false;
    std::vector<Frame> sent; // since the last drain
    std::map<Told, std::size_t> messages;
    std::uint64_t dispatched = 0;

    std::uint32_t ReplyMode() const { return wan ? 0 : 1; }
    void Send(std::uint32_t command)
    {
        SetFrameCommand(image, command);
        SetFrameReplyMode(image, ReplyMode());
        sent.push_back(image);
    }
    const std::optional<Frame>* CurrentSlot(RecordSlot slot) const
    {
        if (!current)
            return nullptr;
        const ModelCamera& c = cameras.at(*current);
        const std::optional<Frame>& s =
            slot == RecordSlot::General ? c.general : slot == RecordSlot::User ? c.user : c.domain;
        return s ? &s : nullptr;
    }
    void SendCurrent(std::uint32_t command, RecordSlot slot)
    {
        if (const auto* s = CurrentSlot(slot)) {
            image = **s;
            Send(command);
        }
    }

    void Dispatch(const Frame& received)
    {
        ++dispatched;
        switch (FrameCommand(received)) {
        case CMD_GENERAL_REPLY:
        case CMD_USER_REPLY:
        case CMD_DOMAIN_REPLY: {
            const MacAddress mac = FrameMac(received);
            auto [it, fresh] = cameras.try_emplace(mac);
            if (fresh)
                ++messages[Told::CameraFound];
            ModelCamera& c = it->second;
            const std::uint32_t command = FrameCommand(received);
            (command == CMD_GENERAL_REPLY ? c.general : command == CMD_USER_REPLY ? c.user : c.domain) = received;
            break;
        }
        case CMD_USER_SET_ACK:
            ++messages[Told::UserAcknowledged];
            SendCurrent(CMD_SET_DOMAIN, RecordSlot::Domain);
            break;
        case CMD_DOMAIN_SET_ACK:
            ++messages[Told::DomainAcknowledged];
            SendCurrent(CMD_SET_GENERAL, RecordSlot::General);
            break;
        case CMD_GENERAL_SET_ACK:
            image = received;
            Send(CMD_APPLY_DONE);
            ++messages[Told::GeneralAcknowledged];
            if (const auto* s = CurrentSlot(RecordSlot::General))
                image = **s;
            break;
        default:
            break;
        }
    }
};

bool SameFrame(const std::optional<Frame>& model, const std::unique_ptr<Frame>& link)
{
    if (!model || !link)
        return !model && !link;
    return *model == *link;
}

void CheckSlot(const std::unique_ptr<Frame>& slot, std::uint32_t reply, const MacAddress& mac)
{
    if (!slot)
        return;
    FUZZ_CHECK(FrameCommand(*slot) == reply);
    FUZZ_CHECK(FrameMac(*slot) == mac);
}

void CheckLink(LinkCore& link, Model& model, const FuzzObserver& observer)
{
    {
        std::lock_guard lock(link.state.frame_image.lock);
        FUZZ_CHECK(link.state.frame_image.bytes == model.image);
    }
    CameraRegistry& registry = link.state.registry;
    std::vector<CameraEntry*> entries;
    {
        std::lock_guard guard(registry.guard());
        FUZZ_CHECK(registry.size() == model.cameras.size());
        registry.Rewind();
        for (CameraEntry* e = registry.Current(); e; e = registry.Next() ? registry.Current() : nullptr)
            entries.push_back(e);
    }
    FUZZ_CHECK(entries.size() == model.cameras.size());
    std::set<MacAddress> seen;
    for (CameraEntry* e : entries) {
        const Frame* preferred = e->PreferredRecord();
        FUZZ_CHECK(preferred != nullptr);
        const MacAddress mac = FrameMac(*preferred);
        FUZZ_CHECK(seen.insert(mac).second); // one entry per mac
        CheckSlot(e->general, CMD_GENERAL_REPLY, mac);
        CheckSlot(e->user, CMD_USER_REPLY, mac);
        CheckSlot(e->domain, CMD_DOMAIN_REPLY, mac);
        auto it = model.cameras.find(mac);
        FUZZ_CHECK(it != model.cameras.end());
        ModelCamera& c = it->second;
        FUZZ_CHECK(SameFrame(c.general, e->general));
        FUZZ_CHECK(SameFrame(c.user, e->user));
        FUZZ_CHECK(SameFrame(c.domain, e->domain));
        // An entry keeps its identity once created.
        FUZZ_CHECK(c.entry == nullptr || c.entry == e);
        c.entry = e;
        const Frame* found_preferred = nullptr;
        FUZZ_CHECK(registry.FindCamera(mac, &found_preferred) == e);
        FUZZ_CHECK(found_preferred == preferred);
    }

    CameraEntry* current = link.state.sequence_camera.load();
    FUZZ_CHECK(model.current ? current == model.cameras.at(*model.current).entry : current == nullptr);
    FUZZ_CHECK(observer.received == model.messages);
    FUZZ_CHECK(link.receiver.counters().dispatched.load() == model.dispatched);

    const auto wire = Sink().Drain();
    FUZZ_CHECK(wire.size() == model.sent.size());
    for (std::size_t i = 0; i < wire.size(); ++i) {
        FUZZ_CHECK(wire[i].size() == kFrameSize);
        FUZZ_CHECK(std::memcmp(wire[i].data(), model.sent[i].data(), kFrameSize) == 0);
    }
    model.sent.clear();
}

// Macs from a small set, so replies of one camera meet; the high bit asks for
// six bytes of input instead.
MacAddress PickMac(FuzzInput& in, std::uint8_t selector)
{
    MacAddress mac{0x00, 0x1b, 0x2c, 0x3d, 0x00, std::uint8_t(selector & 0x07)};
    if (selector & 0x80)
        for (auto& b : mac)
            b = in.Byte();
    return mac;
}

constexpr std::uint32_t kCompactCommands[] = {
    CMD_GENERAL_REPLY, CMD_USER_REPLY,    CMD_DOMAIN_REPLY, CMD_USER_SET_ACK, CMD_DOMAIN_SET_ACK,
    CMD_GENERAL_SET_ACK, CMD_GET_GENERAL, CMD_APPLY_DONE,   CMD_RESET,        0x15000000,
};

void Deliver(LinkCore& link, Model& model, const std::uint8_t* data, std::size_t n)
{
    // An exact-size copy, so a read past the datagram's end is caught.
    std::vector<std::uint8_t> datagram(data, data + n);
    const bool dispatched = link.receiver.HandleDatagram(datagram.data(), n);
    if (n < kFrameSize) {
        // Refused whole: the frame image keeps every byte (checked with the rest).
        FUZZ_CHECK(!dispatched);
        return;
    }
    FUZZ_CHECK(dispatched);
    Frame received;
    std::memcpy(received.data(), data, kFrameSize);
    model.image = received;
    FUZZ_CHECK(link.receiver.received_frame() == received);
    model.Dispatch(received);
}

void SelectEntry(LinkCore& link, Model& model, CameraEntry* entry)
{
    link.state.sequence_camera.store(entry);
    model.current.reset();
    if (!entry)
        return;
    for (auto& [mac, c] : model.cameras)
        if (c.entry == entry)
            model.current = mac;
    FUZZ_CHECK(model.current.has_value());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    LinkPorts ports;
    ports.camera_port = Sink().port();
    ports.tool_port = 0; // the transmit socket binds wherever the system puts it
    ports.broadcast_address = "127.0.0.1";
    ports.list_interfaces = LoopbackInterfaceOnly;

    FuzzObserver observer;
    LinkCore link(ports);
    link.state.observer.Attach(&observer);
    Model model;
    FuzzInput in(data, size);

    for (int step = 0; !in.empty() && step < 256; ++step) {
        switch (in.Byte() % 10) {
        case 0:
        case 1:
        case 2: {
            std::size_t n = in.Le16();
            if (n > kMaxDatagram)
                n = kMaxDatagram;
            std::size_t taken = 0;
            const std::uint8_t* p = in.Take(n, &taken);
            Deliver(link, model, p, taken);
            break;
        }
        case 3:
        case 4: {
            const std::uint8_t selector = in.Byte();
            const std::uint8_t mac_selector = in.Byte();
            const std::uint8_t seed = in.Byte();
            Frame frame;
            for (std::size_t i = 0; i < kFrameSize; ++i)
                frame[i] = std::uint8_t(seed * (i + 1));
            SetFrameCommand(frame, kCompactCommands[selector % std::size(kCompactCommands)]);
            SetFrameMac(frame, PickMac(in, mac_selector));
            // Now and then longer than a frame: the rest must be cut off.
            std::vector<std::uint8_t> datagram(frame.begin(), frame.end());
            if (selector & 0x80)
                datagram.resize(kFrameSize + (selector & 0x7F) * 13u, 0xEE);
            Deliver(link, model, datagram.data(), datagram.size());
            break;
        }
        case 5: {
            MacAddress mac;
            for (auto& b : mac)
                b = in.Byte();
            SelectEntry(link, model, link.state.registry.FindCamera(mac));
            FUZZ_CHECK(link.state.sequence_camera.load() == nullptr || model.cameras.count(mac) == 1);
            break;
        }
        case 6: {
            const std::uint8_t k = in.Byte();
            CameraEntry* chosen = nullptr;
            {
                CameraRegistry& registry = link.state.registry;
                std::lock_guard guard(registry.guard());
                registry.Rewind();
                for (unsigned i = 0; i < k % (registry.size() + 1) && registry.Next(); ++i) {
                }
                chosen = registry.Current();
            }
            SelectEntry(link, model, chosen);
            break;
        }
        case 7:
            model.wan = in.Byte() & 1;
            link.state.wan_mode.store(model.wan);
            break;
        case 8:
            switch (in.Byte() % 3) {
            case 0:
                // The sheet starts its camera's sequence: the camera it names.
                if (model.current)
                    link.transmitter.SendCameraRecord(*model.current, CMD_SET_USER, RecordSlot::User);
                model.SendCurrent(CMD_SET_USER, RecordSlot::User);
                break;
            case 1:
                link.transmitter.SendSearchBurst({});
                for (std::uint32_t command : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN})
                    model.Send(command);
                break;
            default:
                if (model.current)
                    link.transmitter.SendCameraRecord(*model.current, CMD_RESET, RecordSlot::General);
                model.SendCurrent(CMD_RESET, RecordSlot::General);
                break;
            }
            FUZZ_CHECK(link.transmitter.transmit_socket() == net::kInvalidSocket);
            break;
        default:
            SelectEntry(link, model, nullptr);
            break;
        }
        CheckLink(link, model, observer);
    }
    return 0;
}
