#pragma once
// Puts frames on the wire: a fresh UDP socket per transmission, the whole
// frame image sent under the frame lock, the socket closed again. In LAN mode
// a search leaves through every broadcast interface, and the current camera's
// frames only through the interface it last answered on.

#include "link/config_frame.h"
#include "link/link_state.h"
#include "net/socket_layer.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace vantoro {

class FrameTransmitter {
public:
    explicit FrameTransmitter(LinkState& link) : link_(link) {}

    // Where a frame goes, read at each transmission.
    struct Destination {
        std::uint32_t addr; // network byte order
        std::uint32_t reply_mode;
        bool lan = false; // sent through each of the interfaces, not by route
        std::vector<unsigned> interfaces;
    };
    // A discovery burst as it went out, to be sent again just so.
    struct Burst {
        Destination dest{};
        Frame image{}; // the frame image the three requests carried
    };

    // CMD_GET_GENERAL, CMD_GET_USER, CMD_GET_DOMAIN back to back on one
    // socket; sent, when given, keeps what went out.
    void SendDiscoveryBurst(Burst* sent = nullptr);
    // The same three requests again, to the same destination, leaving the
    // frame image as it is. Asks the front end nothing, so any thread may.
    void ResendDiscoveryBurst(const Burst& burst);
    // Copies source into the frame image, sets command and reply_mode, sends;
    // in LAN mode only onto the current camera's LAN (see NarrowToCamera).
    void SendFrame(std::uint32_t command, const Frame& source);
    // Sends the current camera's record in slot; returns false, sending
    // nothing, when there is no current camera or it lacks that record.
    bool SendCurrentRecord(std::uint32_t command, RecordSlot slot);
    void StartApply() { SendCurrentRecord(CMD_SET_USER, RecordSlot::User); }
    bool SendReset() { return SendCurrentRecord(CMD_RESET, RecordSlot::General); }
    // The same for the camera of this hardware address, addressed to it
    // (WAN mode: where it answered from; LAN mode: its interface); false,
    // sending nothing, when it is not listed or lacks that record.
    bool SendCameraRecord(const MacAddress& mac, std::uint32_t command, RecordSlot slot);
    // SendFrame addressed to the camera that source names (as above).
    void SendFrameToCamera(std::uint32_t command, const Frame& source);
    // A search burst that carries no record (bytes 8 to 1151 zero, whatever
    // the frame image held): in WAN mode to wan_address, in LAN mode through
    // the interface via_interface (0 or gone: every interface).
    void SendSearchBurst(std::uint32_t wan_address, unsigned via_interface);

    // The socket of the transmission under way; invalid between transmissions.
    net::Socket transmit_socket() const { return transmit_socket_.load(); }

private:
    Destination Address(); // with no lock held
    // Under the registry's guard: in LAN mode, only the camera's answer
    // interface while it is still listed; otherwise every interface.
    static void NarrowToCamera(Destination& dest, const CameraEntry* camera);
    // Under the registry's guard: NarrowToCamera, and in WAN mode the address
    // the camera answered from, when known.
    static void AddressToCamera(Destination& dest, const CameraEntry* camera);
    class Transmission;
    // Under the frame lock, with the frame already in the image: one frame
    // with this command on a socket of its own.
    void SendImageAs(std::uint32_t command, const Destination& dest);

    LinkState& link_;
    std::atomic<net::Socket> transmit_socket_{net::kInvalidSocket};
};

} // namespace vantoro
