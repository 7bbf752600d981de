#include "tools/camera_sim/camera_simulator.h"

#include "tools/camera_sim/state_file.h"
#include "util/mac_text.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace vantoro::sim {

namespace {

Frame& RecordOf(CameraRecords& r, RecordKind kind)
{
    switch (kind) {
    case RecordKind::General: return r.general;
    case RecordKind::User: return r.user;
    case RecordKind::Domain: return r.domain;
    }
    return r.general;
}

std::uint32_t ReplyCode(RecordKind kind)
{
    switch (kind) {
    case RecordKind::General: return CMD_GENERAL_REPLY;
    case RecordKind::User: return CMD_USER_REPLY;
    case RecordKind::Domain: return CMD_DOMAIN_REPLY;
    }
    return 0;
}

std::string Hex(std::uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

} // namespace

CameraSimulator::CameraSimulator(SimOptions options)
    : options_(std::move(options)),
      scheduler_([this](const Outgoing& item) { Transmit(item); })
{
    if (options_.seed)
        random_.seed(*options_.seed);
    else
        random_.seed(std::random_device{}());
}

CameraSimulator::~CameraSimulator()
{
    Stop();
}

Error CameraSimulator::Start()
{
    if (receiver_.joinable())
        return "already running";
    if (options_.cameras < 1 || !OffsetMac(options_.first_mac, std::uint64_t(options_.cameras - 1)))
        return "the cameras' hardware addresses would pass ff:ff:ff:ff:ff:ff";
    if (!options_.log_file.empty()) {
        if (auto error = log_.OpenFile(options_.log_file))
            return error;
    }
    {
        std::lock_guard guard(cameras_lock_);
        cameras_ = MakeDefaultCameras(options_.cameras, options_.first_mac);
    }

    const std::string where = FormatNetAddress(options_.bind_address) + ":" + std::to_string(options_.port);
    socket_ = net::OpenUdpSocket();
    if (!socket_.valid())
        return std::string("cannot open a UDP socket: ") + std::strerror(errno);
    if (!net::Bind(socket_.get(), options_.bind_address, options_.port)) {
        const std::string reason = std::strerror(errno);
        socket_.reset();
        return "cannot bind " + where + ": " + reason;
    }
    port_ = net::LocalPort(socket_.get());
    if (options_.receive_buffer_bytes > 0)
        net::SetReceiveBuffer(socket_.get(), options_.receive_buffer_bytes);

    if (!options_.state_file.empty()) {
        if (auto error = WriteStateFile(options_.state_file, Cameras())) {
            socket_.reset();
            return error;
        }
    }
    if (!net::OpenWakePipe(wake_pipe_)) {
        const std::string reason = std::strerror(errno);
        socket_.reset();
        return "cannot create a pipe: " + reason;
    }
    stopping_ = false;

    scheduler_.Start();
    started_ = std::chrono::steady_clock::now();
    receiver_ = std::thread([this] { ReceiveLoop(); });
    log_.Line("serving " + std::to_string(options_.cameras) + " cameras from " + MacColonText(options_.first_mac) +
              " on " + FormatNetAddress(options_.bind_address) + ":" + std::to_string(port_) +
              ", answers to port " + std::to_string(options_.reply_port));
    return std::nullopt;
}

void CameraSimulator::Stop()
{
    if (receiver_.joinable()) {
        stopping_ = true;
        net::Wake(wake_pipe_);
        receiver_.join();
    }
    scheduler_.Stop();
    net::CloseWakePipe(wake_pipe_);
    socket_.reset();
}

std::vector<VirtualCamera> CameraSimulator::Cameras() const
{
    std::lock_guard guard(cameras_lock_);
    return cameras_;
}

SimCounters CameraSimulator::Counters() const
{
    const Counters_& c = counters_;
    return SimCounters{c.received, c.handled, c.wrong_size, c.unknown_command, c.get_requests, c.set_requests,
                       c.records_stored, c.sets_unmatched, c.apply_done, c.resets, c.answers_queued,
                       c.answers_lost, c.answers_withheld, c.datagrams_sent, c.send_errors, c.receive_errors};
}

void CameraSimulator::ReceiveLoop()
{
    // One byte more than a frame, so a longer datagram shows as the wrong size.
    std::uint8_t buffer[kFrameSize + 1];
    Frame frame;
    for (;;) {
        // Only Stop wakes the pipe, so a wait that ends otherwise has a datagram.
        if (!net::WaitReadable(socket_.get(), wake_pipe_, -1)) {
            if (errno == EINTR)
                continue;
            log_.Line(std::string("poll failed: ") + std::strerror(errno));
            return;
        }
        if (stopping_)
            return;

        std::uint32_t from = 0;
        const long n = net::ReceiveFrom(socket_.get(), buffer, sizeof buffer, &from);
        if (n < 0) {
            // An ICMP error from an earlier answer, for one; the next datagram is fine.
            ++counters_.receive_errors;
            continue;
        }
        ++counters_.received;
        if (std::size_t(n) != kFrameSize) {
            ++counters_.wrong_size;
            log_.Line("ignored a datagram of " + std::to_string(n) + " bytes from " + FormatNetAddress(from));
        } else {
            std::memcpy(frame.data(), buffer, kFrameSize);
            Handle(frame, from);
        }
        ++counters_.handled;
    }
}

void CameraSimulator::Handle(const Frame& frame, std::uint32_t from)
{
    const std::uint32_t command = FrameCommand(frame);
    switch (command) {
    case CMD_GET_GENERAL: return AnswerGet(RecordKind::General, command, from);
    case CMD_GET_USER: return AnswerGet(RecordKind::User, command, from);
    case CMD_GET_DOMAIN: return AnswerGet(RecordKind::Domain, command, from);
    case CMD_SET_GENERAL: return AcceptSet(RecordKind::General, frame, from);
    case CMD_SET_USER: return AcceptSet(RecordKind::User, frame, from);
    case CMD_SET_DOMAIN: return AcceptSet(RecordKind::Domain, frame, from);
    case CMD_APPLY_DONE:
        ++counters_.apply_done;
        log_.Line("apply done for " + MacColonText(FrameMac(frame)) + " from " + FormatNetAddress(from));
        return;
    case CMD_RESET:
        ++counters_.resets;
        log_.Line("reset requested for " + MacColonText(FrameMac(frame)) + " from " + FormatNetAddress(from));
        return;
    default:
        ++counters_.unknown_command;
        log_.Line("ignored command " + Hex(command) + " from " + FormatNetAddress(from));
        return;
    }
}

void CameraSimulator::AnswerGet(RecordKind kind, std::uint32_t command, std::uint32_t from)
{
    ++counters_.get_requests;
    if (options_.log_requests) {
        const std::chrono::duration<double> since = std::chrono::steady_clock::now() - started_;
        char at[32];
        std::snprintf(at, sizeof at, "%.6f", since.count());
        log_.Line(std::string("search request for ") + RecordKindName(kind) + " from " + FormatNetAddress(from) +
                  " at " + at + " s");
    }
    if (options_.no_reply[int(kind)]) {
        counters_.answers_withheld += std::uint64_t(options_.cameras);
        return;
    }
    // Copied out first: the queue and the state file never wait on each other.
    std::vector<Frame> replies;
    {
        std::lock_guard guard(cameras_lock_);
        for (VirtualCamera& camera : cameras_)
            replies.push_back(RecordOf(camera.records, kind));
    }
    for (Frame& reply : replies) {
        SetFrameCommand(reply, command + 5);
        Answer(reply, from);
    }
}

void CameraSimulator::AcceptSet(RecordKind kind, const Frame& frame, std::uint32_t from)
{
    ++counters_.set_requests;
    const MacAddress mac = FrameMac(frame);
    bool stored = false;
    bool forgotten = false;
    {
        std::lock_guard guard(cameras_lock_);
        for (VirtualCamera& camera : cameras_) {
            if (camera.mac != mac)
                continue;
            if (options_.forget[int(kind)]) {
                forgotten = true;
                break;
            }
            Frame& record = RecordOf(camera.records, kind);
            record = frame;
            SetFrameCommand(record, ReplyCode(kind));
            stored = true;
            break;
        }
    }
    if (forgotten) {
        log_.Line("acknowledged " + std::string(RecordKindName(kind)) + " record of " + MacColonText(mac) + " from " +
                  FormatNetAddress(from) + " but kept the old one");
    } else if (stored) {
        ++counters_.records_stored;
        log_.Line("stored " + std::string(RecordKindName(kind)) + " record of " + MacColonText(mac) + " from " +
                  FormatNetAddress(from));
        WriteState();
    } else {
        // Another camera's record, heard in a broadcast: not ours to answer.
        ++counters_.sets_unmatched;
        log_.Line(std::string(RecordKindName(kind)) + " record for unknown " + MacColonText(mac) + " from " +
                  FormatNetAddress(from) + ": ignored");
        return;
    }

    if (options_.no_ack[int(kind)]) {
        ++counters_.answers_withheld;
        return;
    }
    Frame ack = frame;
    SetFrameCommand(ack, FrameCommand(frame) + 5);
    Answer(ack, from);
}

void CameraSimulator::Answer(const Frame& frame, std::uint32_t to)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const int copies = options_.duplicate > 0 && chance(random_) < options_.duplicate ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        if (options_.loss > 0 && chance(random_) < options_.loss) {
            ++counters_.answers_lost;
            continue;
        }
        int delay_ms = options_.delay_ms;
        if (options_.jitter_ms > 0)
            delay_ms += std::uniform_int_distribution<int>(0, options_.jitter_ms)(random_);
        ++counters_.answers_queued;
        scheduler_.Schedule(ReplyScheduler::Clock::now() + std::chrono::milliseconds(delay_ms),
                            Outgoing{frame, to, options_.reply_port});
    }
}

void CameraSimulator::WriteState()
{
    if (options_.state_file.empty())
        return;
    if (auto error = WriteStateFile(options_.state_file, Cameras()))
        log_.Line(*error);
}

void CameraSimulator::Transmit(const Outgoing& item)
{
    const long sent = net::SendTo(socket_.get(), item.frame.data(), item.frame.size(), item.addr, item.port);
    if (sent == long(item.frame.size()))
        ++counters_.datagrams_sent;
    else
        ++counters_.send_errors;
}

} // namespace vantoro::sim
