#include "link/frame_transmitter.h"

#include <algorithm>
#include <string>

namespace vantoro {

namespace {
// The WAN address holds at most 83 characters; a longer text is no dotted
// address, so it is cut before conversion.
constexpr std::size_t kWanAddressMax = 83;
} // namespace

FrameTransmitter::Destination FrameTransmitter::Address()
{
    // Read before any lock: on the receiver thread this asks the GUI thread,
    // which may itself be waiting for the frame lock.
    if (link_.wan_mode.load()) {
        if (link_.wan_address_set.load())
            return {link_.wan_address.load(), 0, false, {}};
        std::string text = link_.observer.WanAddressText();
        if (text.size() > kWanAddressMax)
            text.resize(kWanAddressMax);
        return {net::InetAddr(text.c_str()), 0, false, {}};
    }
    Destination dest{net::InetAddr(link_.ports.broadcast_address.c_str()), 1, true, {}};
    // Read at each transmission: interfaces come and go between searches.
    if (link_.ports.list_interfaces) {
        for (const NetInterface& n : link_.ports.list_interfaces())
            dest.interfaces.push_back(n.index);
    }
    return dest;
}

void FrameTransmitter::NarrowToCamera(Destination& dest, const CameraEntry* camera)
{
    // The records carry the user table in clear text: they go only onto the
    // LAN where the camera is. Unknown or gone: every interface.
    if (!dest.lan || !camera || camera->answer_interface == 0)
        return;
    const unsigned via = camera->answer_interface;
    if (std::find(dest.interfaces.begin(), dest.interfaces.end(), via) != dest.interfaces.end())
        dest.interfaces = {via};
}

void FrameTransmitter::AddressToCamera(Destination& dest, const CameraEntry* camera) const
{
    if (!dest.lan && camera && camera->answer_address != 0 && link_.address_each_camera.load())
        dest.addr = camera->answer_address;
    NarrowToCamera(dest, camera);
}

// One transmission under the frame lock: its own socket (broadcast option,
// bound to the tool port when free), reply_mode written into the image it
// sends. The socket is shown by transmit_socket() while it lives and closed
// when the transmission ends.
class FrameTransmitter::Transmission {
public:
    Transmission(FrameTransmitter& transmitter, const Destination& dest, Frame& image)
        : transmitter_(transmitter), dest_(dest), socket_(net::OpenUdpSocket())
    {
        if (socket_.valid())
            net::SetBroadcast(socket_.get(), true);
        SetFrameReplyMode(image, dest.reply_mode);
        // Fails while the receiver holds the tool port; the system then picks
        // the source port, and answers still come back to the tool port.
        if (socket_.valid())
            net::Bind(socket_.get(), 0, transmitter_.link_.ports.tool_port);
        transmitter_.transmit_socket_ = socket_.get();
    }
    ~Transmission() { transmitter_.transmit_socket_ = net::kInvalidSocket; }
    Transmission(const Transmission&) = delete;
    Transmission& operator=(const Transmission&) = delete;

    void Send(const std::uint8_t* bytes)
    {
        if (!socket_.valid())
            return;
        const LinkPorts& ports = transmitter_.link_.ports;
        if (!dest_.lan) {
            net::SendTo(socket_.get(), bytes, kFrameSize, dest_.addr, ports.camera_port);
            return;
        }
        for (unsigned via : dest_.interfaces)
            net::SendToVia(socket_.get(), bytes, kFrameSize, dest_.addr, ports.camera_port, via);
    }

private:
    FrameTransmitter& transmitter_;
    const Destination& dest_;
    net::UniqueFd socket_;
};

void FrameTransmitter::SendImageAs(std::uint32_t command, const Destination& dest)
{
    SetFrameCommand(link_.frame_image.bytes, command);
    Transmission out(*this, dest, link_.frame_image.bytes);
    out.Send(link_.frame_image.bytes.data());
}

void FrameTransmitter::SendSearchBurst(const SearchRequest& request, Burst* sent)
{
    Destination dest = Address();
    if (!dest.lan && request.address)
        dest.addr = net::WordToNetwork(request.address->word());
    else if (dest.lan && request.via_interface != 0 &&
             std::find(dest.interfaces.begin(), dest.interfaces.end(), request.via_interface) != dest.interfaces.end())
        dest.interfaces = {request.via_interface};
    std::lock_guard lock(link_.frame_image.lock);
    if (!request.carry_frame_image)
        link_.frame_image.bytes.fill(0);
    Transmission out(*this, dest, link_.frame_image.bytes);
    if (sent) {
        sent->dest = dest;
        sent->image = link_.frame_image.bytes; // with its reply_mode set
    }
    for (std::uint32_t command : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN}) {
        SetFrameCommand(link_.frame_image.bytes, command);
        out.Send(link_.frame_image.bytes.data());
    }
}

void FrameTransmitter::ResendSearchBurst(const Burst& burst)
{
    Frame bytes = burst.image;
    // The frame lock orders it with the other transmissions, which share
    // the transmit socket's slot.
    std::lock_guard lock(link_.frame_image.lock);
    Transmission out(*this, burst.dest, bytes);
    for (std::uint32_t command : {CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN}) {
        SetFrameCommand(bytes, command);
        out.Send(bytes.data());
    }
}

template <typename Find>
bool FrameTransmitter::SendRecord(std::uint32_t command, RecordSlot slot, Find find)
{
    Destination dest = Address();
    std::lock_guard lock(link_.frame_image.lock);
    {
        std::lock_guard guard(link_.registry.guard());
        const CameraEntry* camera = find();
        if (!camera || !SlotOf(*camera, slot))
            return false;
        link_.frame_image.bytes = *SlotOf(*camera, slot);
        AddressToCamera(dest, camera);
    }
    SendImageAs(command, dest);
    return true;
}

bool FrameTransmitter::SendCameraRecord(const MacAddress& mac, std::uint32_t command, RecordSlot slot)
{
    return SendRecord(command, slot, [&] { return link_.registry.FindCameraLocked(mac); });
}

bool FrameTransmitter::SendNextRecord(const Frame& acknowledgement, std::uint32_t command, RecordSlot slot)
{
    return SendRecord(command, slot, [&] { return link_.ConcernedCameraLocked(acknowledgement); });
}

void FrameTransmitter::SendClosingFrame(const Frame& acknowledgement)
{
    Destination dest = Address();
    std::lock_guard lock(link_.frame_image.lock);
    {
        // The closing frame echoes bytes 8 to 1151 of the acknowledgement.
        std::lock_guard guard(link_.registry.guard());
        link_.frame_image.bytes = acknowledgement;
        AddressToCamera(dest, link_.ConcernedCameraLocked(acknowledgement));
    }
    SendImageAs(CMD_APPLY_DONE, dest);
}

} // namespace vantoro
