#pragma once
// Answers taken off the receive socket, waiting in arrival order for the
// dispatcher. Bounded: past the capacity a datagram is dropped and counted.
// While the socket is being drained the dispatcher holds back (up to half the
// capacity queued), so its work never delays the drain: a small socket buffer
// overflows within milliseconds, the queue does not. It holds back for
// max_hold at most, then takes what is queued: a steady stream of answers
// never pauses long enough for the drain to go idle, and an acknowledgement
// behind it must still be handled.

#include "link/config_frame.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

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

    static constexpr std::chrono::milliseconds kMaxHold{100};

    explicit DatagramQueue(std::size_t capacity = kCapacity, std::chrono::milliseconds max_hold = kMaxHold)
        : capacity_(capacity), hold_limit_(capacity / 2), max_hold_(max_hold)
    {
    }

    // Appends what fits, in order; returns how many were dropped for want of
    // room, and through *waiting how many were already queued before. The
    // drain is then under way until Idle().
    std::size_t Push(const QueuedDatagram* items, std::size_t n, std::size_t* waiting = nullptr);
    // The socket is empty: the dispatcher may go on.
    void Idle();
    // Waits for the oldest datagram, while the drain is idle, half the
    // capacity is queued or the drain has held it back for max_hold; false,
    // taking nothing, once closed.
    bool Pop(QueuedDatagram& out);
    // Wakes every waiter; Pop fails from then on. Open() empties and reopens.
    void Close();
    void Open();
    std::size_t size();

private:
    const std::size_t capacity_;
    const std::size_t hold_limit_;
    const std::chrono::milliseconds max_hold_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<QueuedDatagram> items_;
    bool closed_ = false;
    bool draining_ = false;
    std::chrono::steady_clock::time_point hold_since_{}; // when the drain last got under way
    std::size_t released_ = 0; // datagrams let through when a hold ran out
};

} // namespace vantoro
