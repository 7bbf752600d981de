#include "link/receiver_thread.h"

#include "link/window_messages.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantoro {

ReceiverThread::ReceiverThread(LinkState& link, FrameTransmitter& transmitter)
    : link_(link), transmitter_(transmitter)
{
}

ReceiverThread::~ReceiverThread()
{
    Stop();
}

bool ReceiverThread::Start()
{
    if (thread_.joinable())
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
    thread_ = std::thread([this] { Run(); });
    return bound;
}

void ReceiverThread::RequestStop()
{
    stop_ = true;
    if (wake_pipe_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wake_pipe_[1], &byte, 1);
    }
}

void ReceiverThread::Stop()
{
    if (!thread_.joinable())
        return;
    RequestStop();
    thread_.join();
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
    while (!stop_.load()) {
        if (ReceiveFrame())
            DispatchReply(received_frame_, received_interface_);
    }
    finished_ = true;
}

bool ReceiverThread::ReceiveFrame()
{
    // Drain what is queued first; wait, holding no lock, only when nothing is.
    for (;;) {
        if (stop_.load())
            return false;
        net::BatchSlot slot{receive_buffer_.data(), kFrameSize};
        const int n = socket_ == net::kInvalidSocket ? 0 : net::ReceiveBatch(socket_, &slot, 1);
        if (n == 1) {
            received_interface_ = slot.interface_index;
            return AcceptDatagram(receive_buffer_.data(), slot.length);
        }
        if (n < 0) {
            counters_.refused.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        // Without a usable socket only the stop request can wake the loop.
        pollfd fds[2] = {{wake_pipe_[0], POLLIN, 0}, {socket_, POLLIN, 0}};
        const nfds_t count = socket_ == net::kInvalidSocket ? 1 : 2;
        if (::poll(fds, count, -1) < 0 && errno != EINTR)
            return false;
    }
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

void ReceiverThread::DispatchReply(const Frame& received, unsigned interface_index)
{
    counters_.dispatched.fetch_add(1, std::memory_order_relaxed);
    switch (FrameCommand(received)) {
    case CMD_GENERAL_REPLY:
    case CMD_USER_REPLY:
    case CMD_DOMAIN_REPLY:
        link_.registry.FileRecord(received, interface_index);
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
