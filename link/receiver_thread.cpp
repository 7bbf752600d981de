#include "link/receiver_thread.h"

#include "link/window_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vantoro {

namespace {
// Datagrams taken per receive call: few system calls per burst of answers.
constexpr int kBatch = 64;
// The dispatcher's nice value (the drain thread keeps the process's).
constexpr int kDispatchNice = 10;
// Without a wake pipe a stop request is seen within this many milliseconds.
constexpr int kPollWithoutPipeMs = 100;
// A burst: this many crowded answers without a pause. The dispatcher then
// waits for one, kBurstQuietMs with an empty socket.
constexpr std::size_t kBurstAnswers = 8;
constexpr int kBurstQuietMs = 2;
} // namespace

ReceiverThread::ReceiverThread(LinkState& link, FrameTransmitter& transmitter)
    : link_(link), transmitter_(transmitter), start_thread_([](std::function<void()> body) {
          return std::thread(std::move(body));
      })
{
}

ReceiverThread::~ReceiverThread()
{
    Stop();
}

bool ReceiverThread::Start()
{
    if (dispatch_thread_.joinable())
        return true;
    socket_ = net::OpenUdpSocket();
    bool bound = false;
    if (socket_ != net::kInvalidSocket) {
        net::SetBroadcast(socket_, true);
        net::ReportArrivalInterface(socket_);
        if (link_.ports.receive_buffer_bytes > 0)
            net::SetReceiveBuffer(socket_, link_.ports.receive_buffer_bytes);
        bound = net::Bind(socket_, 0, link_.ports.tool_port);
        ::fcntl(socket_, F_SETFL, ::fcntl(socket_, F_GETFL) | O_NONBLOCK);
    }
    if (::pipe2(wake_pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        wake_pipe_[0] = wake_pipe_[1] = -1;
    stop_ = false;
    finished_ = false;
    queue_.Open();
    try {
        drain_thread_ = start_thread_([this] { Drain(); });
        dispatch_thread_ = start_thread_([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread to be had: the sheet opens all the same, without answers.
        RequestStop();
        if (drain_thread_.joinable())
            drain_thread_.join();
        CloseDescriptors();
        finished_ = true;
        return false;
    }
    return bound;
}

void ReceiverThread::RequestStop()
{
    stop_ = true;
    queue_.Close();
    if (wake_pipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wake_pipe_[1], &byte, 1);
    }
}

void ReceiverThread::Stop()
{
    if (!dispatch_thread_.joinable() && !drain_thread_.joinable())
        return;
    RequestStop();
    if (dispatch_thread_.joinable())
        dispatch_thread_.join();
    if (drain_thread_.joinable())
        drain_thread_.join();
    CloseDescriptors();
}

void ReceiverThread::CloseDescriptors()
{
    net::Close(socket_);
    socket_ = net::kInvalidSocket;
    for (int& fd : wake_pipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void ReceiverThread::Run()
{
    // When both want the processor the drain thread goes first: a socket
    // buffer of a few hundred frames overflows within milliseconds of a
    // burst, while the dispatcher's frames wait safely in the queue. Lowering
    // one's own priority needs no privilege; the order of frames is unchanged.
    ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), kDispatchNice);
    QueuedDatagram next;
    while (!stop_.load() && queue_.Pop(next)) {
        if (AcceptDatagram(next.bytes.data(), kFrameSize))
            DispatchReply(received_frame_, next.interface_index, next.source_address);
    }
    finished_ = true;
}

void ReceiverThread::Drain()
{
    // The socket is read only here; the buffers live on this thread.
    std::vector<Frame> buffers(kBatch);
    std::vector<net::BatchSlot> slots(kBatch);
    std::vector<QueuedDatagram> staging(kBatch);
    for (int i = 0; i < kBatch; ++i)
        slots[i] = {buffers[i].data(), kFrameSize};
    // Answers that came crowded (several in one receive, or while earlier
    // ones still waited) since the socket was last quiet for kBurstQuietMs.
    // An apply's acknowledgements never crowd: each comes after the previous
    // one was dispatched.
    std::size_t crowded = 0;
    while (!stop_.load()) {
        const int n = socket_ == net::kInvalidSocket ? 0 : net::ReceiveBatch(socket_, slots.data(), kBatch);
        if (n > 0) {
            if (Enqueue(slots.data(), n, staging.data()) > 0 || n > 1)
                crowded += std::size_t(n);
            continue; // read on while anything is queued
        }
        if (n < 0)
            counters_.refused.fetch_add(1, std::memory_order_relaxed);
        // A few answers (an acknowledgement, one camera's records) go to the
        // dispatcher at once. In a burst the socket running empty for a moment
        // is no end to it: the dispatcher, and the user interface it wakes,
        // would take the processor the drain needs, so they wait for a pause.
        if (crowded < kBurstAnswers)
            queue_.Idle();
        if (WaitForSocket(kBurstQuietMs))
            continue;
        crowded = 0;
        queue_.Idle(); // caught up: the dispatcher's turn
        WaitForSocket(-1);
    }
}

std::size_t ReceiverThread::Enqueue(const net::BatchSlot* slots, int n, QueuedDatagram* staging)
{
    std::size_t kept = 0;
    for (int i = 0; i < n; ++i) {
        // A datagram shorter than a frame would be merged with stale bytes of
        // the frame image and filed as a record: refused here already.
        if (slots[i].length < kFrameSize) {
            counters_.refused.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        std::copy_n(static_cast<const std::uint8_t*>(slots[i].buffer), kFrameSize, staging[kept].bytes.begin());
        staging[kept].interface_index = slots[i].interface_index;
        staging[kept].source_address = slots[i].source_address;
        ++kept;
    }
    std::size_t waiting = 0;
    const std::size_t dropped = queue_.Push(staging, kept, &waiting);
    if (dropped > 0 && counters_.dropped.fetch_add(dropped, std::memory_order_relaxed) == 0)
        std::fprintf(stderr, "vantoro: more than %zu answers waiting; further answers are dropped and counted\n",
                     DatagramQueue::kCapacity);
    return waiting;
}

bool ReceiverThread::WaitForSocket(int timeout_ms)
{
    pollfd fds[2];
    nfds_t count = 0;
    if (wake_pipe_[0] >= 0)
        fds[count++] = {wake_pipe_[0], POLLIN, 0};
    if (socket_ != net::kInvalidSocket)
        fds[count++] = {socket_, POLLIN, 0};
    // Without the pipe nothing could wake the wait for a stop: bound it.
    if (wake_pipe_[0] < 0 && (timeout_ms < 0 || timeout_ms > kPollWithoutPipeMs))
        timeout_ms = kPollWithoutPipeMs;
    return ::poll(fds, count, timeout_ms) > 0;
}

bool ReceiverThread::AcceptDatagram(const std::uint8_t* data, std::size_t n)
{
    // A datagram shorter than a frame would be merged with stale bytes of the
    // frame image and filed as a record: refused. A longer one arrives here
    // truncated to the frame.
    if (n < kFrameSize) {
        counters_.refused.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    std::lock_guard lock(link_.frame_image.lock);
    std::copy(data, data + kFrameSize, link_.frame_image.bytes.begin());
    received_frame_ = link_.frame_image.bytes;
    return true;
}

bool ReceiverThread::HandleDatagram(const std::uint8_t* data, std::size_t n)
{
    if (!AcceptDatagram(data, n < kFrameSize ? n : kFrameSize))
        return false;
    DispatchReply(received_frame_);
    return true;
}

void ReceiverThread::DispatchReply(const Frame& received, unsigned interface_index, std::uint32_t source_address)
{
    counters_.dispatched.fetch_add(1, std::memory_order_relaxed);
    switch (FrameCommand(received)) {
    case CMD_GENERAL_REPLY:
    case CMD_USER_REPLY:
    case CMD_DOMAIN_REPLY:
        link_.registry.FileRecord(received, interface_index, source_address);
        break;
    case CMD_USER_SET_ACK:
        link_.messenger.Send(LinkWindow::ProgressDialog, WM_USER_SET_DONE);
        if (link_.messenger.MayDriveSequence(received))
            transmitter_.SendCurrentRecord(CMD_SET_DOMAIN, RecordSlot::Domain);
        break;
    case CMD_DOMAIN_SET_ACK:
        link_.messenger.Send(LinkWindow::ProgressDialog, WM_DOMAIN_SET_DONE);
        if (link_.messenger.MayDriveSequence(received))
            transmitter_.SendCurrentRecord(CMD_SET_GENERAL, RecordSlot::General);
        break;
    case CMD_GENERAL_SET_ACK: {
        // The closing frame echoes the acknowledgement's bytes 8 to 1151.
        transmitter_.SendFrame(CMD_APPLY_DONE, received);
        link_.messenger.Send(LinkWindow::ProgressDialog, WM_GENERAL_SET_DONE);
        std::lock_guard lock(link_.frame_image.lock);
        std::lock_guard guard(link_.registry.guard());
        if (CameraEntry* camera = link_.current_camera.load(); camera && camera->general)
            link_.frame_image.bytes = *camera->general;
        break;
    }
    default:
        break; // the tool's own request codes and anything else
    }
}

} // namespace vantoro
