#pragma once
// Answers taken off the receive socket by the drain thread, waiting in
// arrival order for the dispatch thread. Bounded: past the capacity a
// datagram is dropped and counted. When the dispatcher may take one is the
// DrainDispatchPolicy's decision (hold limit: half the capacity); the queue
// keeps it under its lock and does the waiting.

#include "link/config_frame.h"
#include "link/drain_dispatch_policy.h"

#include <chrono>
#include <condition_variable>
#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace vantoro {

struct QueuedDatagram {
    Frame bytes{};                // a whole frame; a longer datagram cut to it
    unsigned interface_index = 0; // where it arrived; 0 unknown
    std::uint32_t source_address = 0; // the sender, network byte order
};

class DatagramQueue {
public:
    // 32768 datagrams of about 1.2 KB: at most some 37 MiB, the whole answer
    // of about 10000 cameras should the dispatcher handle none meanwhile.
    static constexpr std::size_t kCapacity = 32768;
    // Datagrams are kept in blocks of one receive: the drain receives
    // straight into a block and hands it over whole, so a datagram costs
    // neither a copy on the drain nor an allocation of its own, and the lock
    // is held for a pointer, not for the bytes.
    static constexpr std::size_t kBlock = 64;
    struct Block {
        // Left uninitialised when a block is made: the drain writes each
        // slot before it is queued, and a block is not cleared for nothing.
        struct Slot {
            Frame bytes;
            unsigned interface_index;
            std::uint32_t source_address;
        };
        std::array<Slot, kBlock> items;
        std::size_t count = 0; // filled, from the front
        std::size_t head = 0;  // the next one the dispatcher takes
    };
    using BlockPtr = std::unique_ptr<Block>;

    explicit DatagramQueue(std::size_t capacity = kCapacity,
                           std::chrono::milliseconds max_hold = DrainDispatchPolicy::kMaxHold)
        : capacity_(capacity), policy_(capacity / 2, max_hold)
    {
    }

    // Drain thread: appends what fits of the n whole frames that one receive
    // of `received` datagrams gave (received >= n: short ones are refused
    // before, but count toward a burst), in order. Returns how many were
    // dropped for want of room.
    std::size_t DrainPush(const QueuedDatagram* items, std::size_t n, std::size_t received);
    // Drain thread: an empty block to receive into, one the dispatcher
    // emptied when there is one.
    BlockPtr DrainTakeBlock();
    // Drain thread: as above, for the block's count frames (none for a
    // null block); the queue keeps the block.
    std::size_t DrainPush(BlockPtr block, std::size_t received);
    // Drain thread: the socket ran empty. Returns true when the dispatcher
    // may go on, false in a burst.
    bool DrainFoundSocketEmpty();
    // Drain thread: the socket stayed empty for the policy's quiet gap.
    void DrainSawQuietGap();
    // Dispatch thread: waits for the oldest datagram until the policy lets it
    // go; false, taking nothing, once closed.
    bool DispatcherPop(QueuedDatagram& out);

    // Wakes every waiter; DispatcherPop fails from then on. Open() empties
    // and reopens, the policy back at its start.
    void Close();
    void Open();
    // Drain thread, before it reads: spare blocks with their memory already
    // mapped, so the first burst does not wait for the system to map pages.
    void DrainPrepareSpares();
    std::size_t size();

private:
    const std::size_t capacity_;
    std::mutex mutex_;
    std::condition_variable ready_;
    // Blocks emptied by the dispatcher, kept for the drain: a burst after
    // the first finds its memory ready. At most kSpareBlocks.
    static constexpr std::size_t kSpareBlocks = 64;
    std::deque<BlockPtr> blocks_;
    std::size_t size_ = 0; // datagrams in blocks_
    std::vector<BlockPtr> spares_;
    bool closed_ = false;
    DrainDispatchPolicy policy_; // guarded by mutex_, but for its drain-thread-only burst count
};

} // namespace vantoro
