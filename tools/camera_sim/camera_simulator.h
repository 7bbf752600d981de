#pragma once
// Serves a number of virtual cameras on one UDP socket, the way the tool
// expects cameras to behave:
//
// - CMD_GET_GENERAL / CMD_GET_USER / CMD_GET_DOMAIN: every camera answers with
//   its whole stored record (code = request + 5, its own mac), whatever mac the
//   request carries.
// - CMD_SET_USER / CMD_SET_DOMAIN / CMD_SET_GENERAL: the camera whose mac the
//   frame carries stores all 1152 bytes, with the command set to the record's
//   reply code so a later GET sends it back as a proper answer. Other cameras
//   ignore the frame, as they ignore another camera's record in a broadcast.
//   The camera that stored it sends one acknowledgement: the received frame
//   with the code + 5. A record for a mac that no camera has is ignored
//   without an answer, so a broadcast apply is acknowledged by its camera only.
//   --no-ack withholds the acknowledgement only; the record is stored anyway.
// - CMD_APPLY_DONE, CMD_RESET: one log line naming the mac.
// - Anything else, and datagrams not exactly 1152 bytes long: counted, ignored.
//
// Answers go to the sender's address at the reply port, never by broadcast;
// reply_mode is not read. The state file (if any) is rewritten before the
// acknowledgement of a stored record is queued, so a test that has the
// acknowledgement can read the new state.

#include "util/result.h"
#include "net/socket_layer.h"
#include "tools/camera_sim/default_records.h"
#include "tools/camera_sim/reply_scheduler.h"
#include "tools/camera_sim/sim_log.h"
#include "tools/camera_sim/sim_options.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vantoro::sim {

struct SimCounters {
    std::uint64_t received = 0; // datagrams taken off the socket
    std::uint64_t handled = 0; // of those, fully dealt with (counted last)
    std::uint64_t wrong_size = 0; // not exactly 1152 bytes
    std::uint64_t unknown_command = 0; // 1152 bytes, but no code a camera acts on
    std::uint64_t get_requests = 0;
    std::uint64_t set_requests = 0;
    std::uint64_t records_stored = 0;
    std::uint64_t sets_unmatched = 0; // set frames whose mac names no camera
    std::uint64_t apply_done = 0;
    std::uint64_t resets = 0;
    std::uint64_t answers_queued = 0; // replies and acks queued, duplicates included
    std::uint64_t answers_lost = 0; // dropped by --loss
    std::uint64_t answers_withheld = 0; // not made because of --no-reply / --no-ack
    std::uint64_t datagrams_sent = 0;
    std::uint64_t send_errors = 0;
    std::uint64_t receive_errors = 0;
};

class CameraSimulator final {
public:
    explicit CameraSimulator(SimOptions options);
    ~CameraSimulator();
    CameraSimulator(const CameraSimulator&) = delete;
    CameraSimulator& operator=(const CameraSimulator&) = delete;

    // Opens the log, binds the socket, writes the first state file and starts
    // the threads. Returns an error text when any of that fails.
    Error Start();
    // Joins both threads; answers still waiting in the queue are dropped.
    void Stop();

    // The port actually bound (useful with port 0).
    std::uint16_t port() const { return port_; }
    const SimOptions& options() const { return options_; }
    std::vector<VirtualCamera> Cameras() const;
    SimCounters Counters() const;
    SimLog& log() { return log_; }

private:
    struct Counters_ {
        std::atomic<std::uint64_t> received{0}, handled{0}, wrong_size{0}, unknown_command{0}, get_requests{0},
            set_requests{0}, records_stored{0}, sets_unmatched{0}, apply_done{0}, resets{0}, answers_queued{0},
            answers_lost{0}, answers_withheld{0}, datagrams_sent{0}, send_errors{0}, receive_errors{0};
    };

    void ReceiveLoop();
    void Handle(const Frame& frame, std::uint32_t from);
    void AnswerGet(RecordKind kind, std::uint32_t command, std::uint32_t from);
    void AcceptSet(RecordKind kind, const Frame& frame, std::uint32_t from);
    // Queues one answer to `to` at the reply port, after loss, duplicates and delay.
    void Answer(const Frame& frame, std::uint32_t to);
    void WriteState();
    void Transmit(const Outgoing& item);

    SimOptions options_;
    SimLog log_;
    mutable std::mutex cameras_lock_;
    std::vector<VirtualCamera> cameras_;
    Counters_ counters_;
    std::mt19937_64 random_; // used on the receive thread only
    net::UniqueFd socket_;
    net::WakePipe wake_pipe_; // ends the receive loop's wait
    std::atomic<bool> stopping_{false};
    std::uint16_t port_ = 0;
    ReplyScheduler scheduler_;
    std::thread receiver_;
    std::chrono::steady_clock::time_point started_{};
};

} // namespace vantoro::sim
