#pragma once
// The camera link's one front door. Both front ends search, read and edit a
// camera's records, apply and reset, each operation naming the camera it acts
// on, and hear back through one LinkObserver. The shared state, its locks, the transmitter and the
// receiver's threads stay inside.

#include "link/apply_steps.h"
#include "link/camera_snapshot.h"
#include "link/link_observer.h"
#include "link/link_ports.h"
#include "link/search_request.h"
#include "util/result.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantoro {

struct LinkCore;

class CameraLink {
public:
    explicit CameraLink(LinkPorts ports = {});
    ~CameraLink(); // stops the receiver, then the rest goes
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    // Events go to the observer from now on; nullptr drops them. Set it before
    // Start; it must outlive the receiver (Stop).
    void SetObserver(LinkObserver* observer);

    // Binds the tool port and starts receiving. An error text when the port
    // could not be bound (the receiver runs all the same, and frames can still
    // be sent) or when no thread could be started (nothing is received).
    Error Start();
    bool running() const; // the receiver's threads were started and not yet joined
    // Asks the receiver to stop without waiting; finished() tells when its
    // dispatch loop has left, so a GUI thread can keep delivering messages
    // until then.
    void RequestStop();
    bool finished() const;
    // Stops and joins the receiver. An observer call under way must be allowed
    // to finish: call from a thread that keeps delivering them.
    void Stop();

    // Addressing: LAN mode broadcasts through every interface; WAN mode sends
    // to one address, by default the text the observer gives at each frame.
    void SetWanMode(bool on);
    bool wan_mode() const;
    // The address of WAN-mode frames from now on; none: the observer's text.
    void SetWanAddress(std::optional<Ipv4Address> address);

    // The interfaces a LAN-mode frame would leave through now; an address
    // check probes no other.
    std::vector<NetInterface> Interfaces() const;

    // A search: the three requests CMD_GET_GENERAL, CMD_GET_USER and
    // CMD_GET_DOMAIN by the addressing above, or to the place request names,
    // and with a window the link's watch for lost answers (SearchRequest).
    void Search(const SearchRequest& request);
    struct SearchStatus {
        bool under_way = false;
        int bursts = 0; // sent by the latest search, the first included
        // Answers dropped since it began; 0 once a window closed with none
        // dropped, as every camera answering then was heard.
        std::uint64_t lost = 0;
    };
    SearchStatus search_status() const;
    // The latest search with a window sends nothing more.
    void EndSearch();

    // Cameras that have answered, in one byte order (see CameraSnapshot).
    std::size_t CameraCount() const;
    std::optional<CameraSnapshot> Camera(const MacAddress& mac) const;
    std::vector<CameraSnapshot> Cameras() const; // sorted by hardware address

    // The frame image carries these bytes into the next search that carries
    // it: the sheet loads its camera's record after login and after each
    // refresh. Each answer received replaces them too.
    void LoadFrameImage(const Frame& record);

    // Runs edit on the camera's record in place, under the link's guard;
    // false (edit not run) when the camera or that record is missing.
    bool EditRecord(const MacAddress& mac, RecordSlot slot, const std::function<void(Frame&)>& edit);
    // Replaces the records that records holds; false when the camera is not listed.
    bool StoreRecords(const CameraSnapshot& records);
    // While a camera's records are being written, later answers from it are
    // set aside instead of replacing them; released, its answers are filed again.
    void HoldCamera(const MacAddress& mac, bool hold);
    // From now on the observer hears of each answer of this camera, filed
    // or set aside (LinkObserver::AnswerWatched), so a verification sees
    // every answer and not only the latest. Returns how many answers of each
    // kind (general, user, domain) it has sent so far; zeros, watching
    // nothing, when it is not listed.
    std::array<std::uint64_t, 3> WatchCamera(const MacAddress& mac);
    void UnwatchCamera(const MacAddress& mac);

    // How a camera's frames are addressed, and which camera an
    // acknowledgement concerns. Off (the sheet): records, resets and the
    // closing frame go by the addressing above (in LAN mode only through the
    // camera's interface), and every acknowledgement drives the sequence
    // camera's (SetSequenceCamera). On (a front end writing many cameras at once): they go
    // to the camera (WAN mode: the address it answered from), and an
    // acknowledgement drives the sequence of the camera it names.
    void SetAddressEachCamera(bool on);
    // With each camera not addressed: acknowledgements drive this camera's
    // sequence from now on, as they do once its user step was sent. The
    // sheet names the camera it logged in to. False when it is not listed.
    bool SetSequenceCamera(const MacAddress& mac);
    // One step's record of this camera, addressed as above; the user step
    // starts its sequence, and the link sends each next record or the
    // closing frame on the acknowledgements the observer lets through.
    // False, sending nothing, when the camera is not listed or lacks the record.
    bool SendStep(const MacAddress& mac, ApplyStep step);
    // CMD_RESET with this camera's general record, addressed as above; false,
    // sending nothing, when it is not listed or lacks the record.
    bool SendReset(const MacAddress& mac);

    struct Counters {
        std::uint64_t dispatched = 0; // answers acted on
        std::uint64_t refused = 0; // short, empty or failed receives
        std::uint64_t dropped = 0; // arrived while the receiver's queue was full
        // Dropped by the system: the socket buffer was full. Read from the
        // socket at the call, so drops that no later answer followed count.
        std::uint64_t kernel_dropped = 0;
        std::uint64_t held_back = 0; // answers set aside by HoldCamera
    };
    Counters counters() const;

private:
    friend struct LinkInternals; // tests that look behind the door

    std::unique_ptr<LinkCore> core_;
};

} // namespace vantoro
