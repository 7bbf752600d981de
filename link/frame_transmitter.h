#pragma once
// Puts frames on the wire: a fresh UDP socket per transmission, the whole
// frame image sent under the frame lock, the socket closed again. In LAN mode
// a search leaves through every broadcast interface, and a camera's frames
// only through the interface it last answered on.

#include "link/config_frame.h"
#include "link/link_state.h"
#include "link/search_request.h"
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

    // A search's three requests back to back on one socket, as request says
    // (its window is the receiver's); sent, when given, keeps what went out.
    void SendSearchBurst(const SearchRequest& request, Burst* sent = nullptr);
    // The same three requests again, to the same destination, leaving the
    // frame image as it is. Asks the front end nothing, so any thread may.
    void ResendSearchBurst(const Burst& burst);
    // The record in slot of the camera with this hardware address, sent with
    // command (see AddressToCamera); false, sending nothing, when it is not
    // listed or lacks that record.
    bool SendCameraRecord(const MacAddress& mac, std::uint32_t command, RecordSlot slot);
    // The same for the camera whose sequence acknowledgement drives (see
    // LinkState::ConcernedCameraLocked).
    bool SendNextRecord(const Frame& acknowledgement, std::uint32_t command, RecordSlot slot);
    // The closing frame: the acknowledgement's bytes with CMD_APPLY_DONE, to
    // the camera whose sequence it drives (or by the addressing, when none).
    void SendClosingFrame(const Frame& acknowledgement);

    // The socket of the transmission under way; invalid between transmissions.
    net::Socket transmit_socket() const { return transmit_socket_.load(); }

private:
    Destination Address(); // with no lock held
    // Under the registry's guard: in LAN mode, only the camera's answer
    // interface while it is still listed; otherwise every interface.
    static void NarrowToCamera(Destination& dest, const CameraEntry* camera);
    // Under the registry's guard: NarrowToCamera, and in WAN mode, when each
    // camera is addressed, the address the camera answered from, when known.
    void AddressToCamera(Destination& dest, const CameraEntry* camera) const;
    // Under the frame lock: the record in slot of the camera find gives
    // (under the registry's guard) into the image, sent with command.
    template <typename Find>
    bool SendRecord(std::uint32_t command, RecordSlot slot, Find find);
    class Transmission;
    // Under the frame lock, with the frame already in the image: one frame
    // with this command on a socket of its own.
    void SendImageAs(std::uint32_t command, const Destination& dest);

    LinkState& link_;
    std::atomic<net::Socket> transmit_socket_{net::kInvalidSocket};
};

} // namespace vantoro
