#pragma once
// The tool's only listener: receives each answer on the tool port and acts on
// its command alone. Record replies are filed; acknowledgements report
// progress and send the next frame of the apply sequence.
//
// Two threads: the drain thread only takes the socket's datagrams, in
// batches, into a bounded queue, so a burst of answers is kept even with a
// small socket buffer; the dispatch thread takes one frame at a time from
// the queue, in arrival order, and dispatches it, waiting for each
// notification to be handled as before. When the dispatcher may go on is
// the DrainDispatchPolicy's decision (link/drain_dispatch_policy.h).

#include "link/config_frame.h"
#include "link/datagram_queue.h"
#include "link/frame_transmitter.h"
#include "link/link_state.h"
#include "link/search_round.h"
#include "net/socket_layer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vantoro {

class ReceiverThread {
public:
    // Starts a thread running the function; throws std::system_error when the
    // system cannot start one. Replaceable so tests can make that happen.
    using ThreadStarter = std::function<std::thread(std::function<void()>)>;

    ReceiverThread(LinkState& link, FrameTransmitter& transmitter);
    ~ReceiverThread(); // stops and joins
    ReceiverThread(const ReceiverThread&) = delete;
    ReceiverThread& operator=(const ReceiverThread&) = delete;

    // Opens the receive socket, binds the tool port and starts the loop.
    // Returns false when the port could not be bound (the loop runs anyway),
    // or when no thread could be started: then nothing runs, running() is
    // false and the tool goes on without answers.
    bool Start();
    // Why the last Start() returned false, as a front end prints it (no
    // thread, or the port); empty when it returned true.
    const std::string& StartFailure() const { return start_failure_; }
    // Unblocks the receive, ends the loop and joins. A notification under way
    // must be allowed to finish: call from a thread that keeps delivering them.
    void Stop();
    bool running() const { return dispatch_thread_.joinable(); }
    // True once the dispatch loop has left; lets a GUI thread keep delivering
    // messages until then before joining.
    bool finished() const { return finished_.load(); }
    void RequestStop();
    void SetThreadStarter(ThreadStarter starter) { start_thread_ = std::move(starter); }

    // One datagram of n bytes, as the receive step takes it (a longer one is cut
    // to a frame; a shorter one is refused), then dispatched. Returns true when
    // dispatched. Runs on the calling thread: for tests and fuzzers.
    bool HandleDatagram(const std::uint8_t* data, std::size_t n);
    // interface_index and source_address: where the frame arrived and from
    // whom (0 unknown), filed with a record.
    void DispatchReply(const Frame& received, unsigned interface_index = 0, std::uint32_t source_address = 0);

    // A search with a window: the burst, then the window; the drain thread
    // sends the same burst again while windows close with answers dropped
    // (SearchRound). Replaces a search under way.
    void BeginSearch(const SearchRequest& request);
    // Sends nothing more for the search under way.
    void EndSearch() { search_.End(ReadDropsTotal()); }
    SearchRound::Status SearchStatus() { return search_.status(ReadDropsTotal()); }

    // The frame being dispatched; stays unchanged while a notification is handled.
    const Frame& received_frame() const { return received_frame_; }

    struct Counters {
        std::atomic<std::uint64_t> dispatched{0};
        std::atomic<std::uint64_t> refused{0}; // short, empty or failed receives
        std::atomic<std::uint64_t> dropped{0}; // arrived while the queue was full
        // The system's: arrived while the socket buffer was full, never read
        std::atomic<std::uint64_t> kernel_dropped{0};
    };
    const Counters& counters() const { return counters_; }
    std::uint64_t DropsTotal() const
    {
        return counters_.dropped.load(std::memory_order_relaxed) +
               counters_.kernel_dropped.load(std::memory_order_relaxed);
    }
    // Reads the socket's own count of drops first, so drops that no later
    // datagram told of are counted too; then DropsTotal(). Any thread, while
    // the receiver's socket is open or after Stop (then nothing is read).
    std::uint64_t ReadDropsTotal();

private:
    void DispatchLoop(); // the dispatch thread
    // An acknowledgement of step: the observer hears of it and, if it lets
    // it, the camera's next record or closing frame goes out.
    void Acknowledged(ApplyStep step, const Frame& acknowledgement);
    void DrainLoop();    // the drain thread
    // Drain thread: keeps the whole frames of a batch of n datagrams
    // received into the block, in order, refusing short ones. False when
    // none was whole.
    bool Enqueue(const net::BatchSlot* slots, int n, DatagramQueue::Block& block);
    void NoteQueueDrops(std::size_t dropped);
    // Drain thread: holding no lock, up to timeout_ms (-1: no limit; bounded
    // when there is no wake pipe). True when something is there to read.
    bool WaitForSocket(int timeout_ms);
    // The system's running count of drops, as a receive brought it or as
    // read from the socket; any thread, each drop counted once.
    void NoteKernelDrops(const net::KernelDropCount& count);
    // Drain thread: closes the search's window when its time has come, sending
    // the burst again or telling how it ended. The milliseconds until the
    // next window closes, -1 when no search is under way.
    int TendSearch();
    // Merges the bytes into the frame image and copies it to the received frame.
    bool AcceptDatagram(const std::uint8_t* data, std::size_t n);
    void CloseDescriptors();

    LinkState& link_;
    FrameTransmitter& transmitter_;
    net::UniqueFd socket_;
    net::WakePipe wake_pipe_;
    std::string start_failure_;
    ThreadStarter start_thread_;
    std::thread drain_thread_;
    std::thread dispatch_thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    DatagramQueue queue_;
    Frame received_frame_{};
    Counters counters_;
    std::atomic<std::uint32_t> kernel_drops_seen_{0}; // the system's count so far
    SearchRound search_;
    std::mutex search_lock_; // the burst, and the start of a search
    FrameTransmitter::Burst search_burst_;
    std::atomic<bool> search_woke_{false}; // the wake pipe was written for a search
};

} // namespace vantoro
