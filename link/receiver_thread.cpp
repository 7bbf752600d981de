#include "link/receiver_thread.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

namespace vantoro {

namespace {
// Datagrams taken per receive call: few system calls per burst of answers.
constexpr int kBatch = int(DatagramQueue::kBlock);
// Without a wake pipe a stop request is seen within this many milliseconds.
constexpr int kPollWithoutPipeMs = 100;
constexpr int kQuietGapMs = int(DrainDispatchPolicy::kQuietGap.count());
} // namespace

ReceiverThread::ReceiverThread(LinkState& link, FrameTransmitter& transmitter)
    : link_(link), transmitter_(transmitter), start_thread_([](std::function<void()> body) {
          return std::thread(std::move(body));
      }),
      queue_(link.ports.answer_queue_capacity)
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
    start_failure_.clear();
    socket_ = net::OpenUdpSocket();
    bool bound = false;
    if (socket_.valid()) {
        const net::Socket s = socket_.get();
        net::SetBroadcast(s, true);
        net::ReportArrivalInterface(s);
        net::ReportKernelDrops(s);
        if (link_.ports.receive_buffer_bytes > 0)
            net::SetReceiveBuffer(s, link_.ports.receive_buffer_bytes);
        bound = net::Bind(s, 0, link_.ports.tool_port);
        net::SetNonBlocking(s);
    }
    net::OpenWakePipe(wake_pipe_);
    stop_ = false;
    finished_ = false;
    kernel_drops_seen_ = 0; // a new socket counts from zero
    queue_.Open();
    try {
        drain_thread_ = start_thread_([this] { DrainLoop(); });
        dispatch_thread_ = start_thread_([this] { DispatchLoop(); });
    } catch (const std::system_error&) {
        // No thread to be had: the sheet opens all the same, without answers.
        RequestStop();
        if (drain_thread_.joinable())
            drain_thread_.join();
        CloseDescriptors();
        finished_ = true;
        start_failure_ = "cannot start the threads that receive the cameras' answers";
        return false;
    }
    if (!bound)
        start_failure_ = "cannot bind UDP port " + std::to_string(link_.ports.tool_port) +
                         " for the cameras' answers (is another configuration tool running?)";
    return bound;
}

void ReceiverThread::RequestStop()
{
    stop_ = true;
    queue_.Close();
    net::Wake(wake_pipe_);
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
    socket_.reset();
    net::CloseWakePipe(wake_pipe_);
}

void ReceiverThread::DispatchLoop()
{
    // When both want the processor the drain thread goes first: a socket
    // buffer of a few hundred frames overflows within milliseconds of a
    // burst, while the dispatcher's frames wait safely in the queue. The
    // order of frames is unchanged.
    net::SetThreadNice(DrainDispatchPolicy::kDispatcherNice);
    QueuedDatagram next;
    std::uint64_t drops_told = 0;
    while (!stop_.load() && queue_.DispatcherPop(next)) {
        // Drops happen while the queue is full, so an answer always follows
        // them to this loop: the front end hears of them before it.
        if (const std::uint64_t drops = DropsTotal(); drops != drops_told) {
            drops_told = drops;
            link_.observer.AnswersDropped(drops);
        }
        if (AcceptDatagram(next.bytes.data(), kFrameSize))
            DispatchReply(received_frame_, next.interface_index, next.source_address);
    }
    finished_ = true;
}

void ReceiverThread::DrainLoop()
{
    // The socket is read only here, straight into a block of the queue.
    queue_.DrainPrepareSpares();
    std::vector<net::BatchSlot> slots(kBatch);
    DatagramQueue::BlockPtr block = queue_.DrainTakeBlock();
    const auto aim = [&] {
        for (int i = 0; i < kBatch; ++i)
            slots[i] = {block->items[i].bytes.data(), kFrameSize};
    };
    aim();
    net::KernelDropCount kernel_drops;
    while (!stop_.load()) {
        const int n =
            !socket_.valid() ? 0 : net::ReceiveBatch(socket_.get(), slots.data(), kBatch, &kernel_drops);
        if (n > 0) {
            // Before the answers: the dispatcher tells of drops ahead of the
            // answer that brought their count.
            NoteKernelDrops(kernel_drops);
            if (Enqueue(slots.data(), n, *block)) {
                NoteQueueDrops(queue_.DrainPush(std::move(block), std::size_t(n)));
                block = queue_.DrainTakeBlock();
                aim();
            } else {
                queue_.DrainPush(nullptr, std::size_t(n)); // the receive still counts toward a burst
            }
            TendSearch();
            continue; // read on while anything is queued
        }
        if (n < 0)
            counters_.refused.fetch_add(1, std::memory_order_relaxed);
        // The policy decides whether the dispatcher goes on now or after a
        // quiet gap; the drain only reports what the socket does.
        queue_.DrainFoundSocketEmpty();
        if (WaitForSocket(kQuietGapMs))
            continue;
        queue_.DrainSawQuietGap(); // caught up: the dispatcher's turn
        WaitForSocket(TendSearch()); // until an answer, or the search's window closes
    }
}

void ReceiverThread::NoteKernelDrops(const net::KernelDropCount& count)
{
    if (!count.seen)
        return;
    // Two threads may read the count: only one that moves it forward adds
    // the difference. The count wraps at 2^32; the difference does too.
    std::uint32_t seen = kernel_drops_seen_.load();
    do {
        if (std::int32_t(count.value - seen) <= 0)
            return;
    } while (!kernel_drops_seen_.compare_exchange_weak(seen, count.value));
    counters_.kernel_dropped.fetch_add(std::uint32_t(count.value - seen), std::memory_order_relaxed);
}

std::uint64_t ReceiverThread::ReadDropsTotal()
{
    // The socket is opened and closed by the thread that starts and stops
    // the receiver, the one that asks here; the drain thread only reads it.
    net::KernelDropCount count;
    if (socket_.valid() && net::ReadKernelDrops(socket_.get(), count))
        NoteKernelDrops(count);
    return DropsTotal();
}

void ReceiverThread::BeginSearch(const SearchRequest& request)
{
    {
        std::lock_guard lock(search_lock_);
        // Drops are counted from before the burst: its answers follow at once.
        search_.Begin(SearchRound::Clock::now(), request.window, ReadDropsTotal());
        transmitter_.SendSearchBurst(request, &search_burst_);
    }
    // An idle drain waits without a limit: it must learn of the window.
    net::Wake(wake_pipe_);
    search_woke_.store(true);
}

int ReceiverThread::TendSearch()
{
    auto deadline = search_.deadline();
    if (deadline == SearchRound::Clock::time_point::max())
        return -1;
    const auto now = SearchRound::Clock::now();
    if (now >= deadline) {
        // Drops at the end of a burst have no later answer to bring their
        // count: the socket is asked.
        const std::uint64_t drops = ReadDropsTotal();
        switch (search_.Check(now, drops)) {
        case SearchRound::Step::SendAgain: {
            FrameTransmitter::Burst burst;
            {
                std::lock_guard lock(search_lock_);
                burst = search_burst_;
            }
            transmitter_.ResendSearchBurst(burst);
            break;
        }
        case SearchRound::Step::EndedIncomplete:
            link_.observer.SearchIncomplete(search_.status(drops).lost);
            break;
        case SearchRound::Step::EndedClean:
        case SearchRound::Step::Wait:
            break;
        }
        deadline = search_.deadline();
        if (deadline == SearchRound::Clock::time_point::max())
            return -1;
    }
    return int(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
}

bool ReceiverThread::Enqueue(const net::BatchSlot* slots, int n, DatagramQueue::Block& block)
{
    std::size_t kept = 0;
    for (int i = 0; i < n; ++i) {
        // A datagram shorter than a frame would be merged with stale bytes of
        // the frame image and filed as a record: refused here already.
        if (slots[i].length < kFrameSize) {
            counters_.refused.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        DatagramQueue::Block::Slot& d = block.items[kept];
        if (kept != std::size_t(i))
            d.bytes = block.items[std::size_t(i)].bytes; // closes the gap a short one left
        d.interface_index = slots[i].interface_index;
        d.source_address = slots[i].source_address;
        ++kept;
    }
    block.count = kept;
    return kept > 0;
}

void ReceiverThread::NoteQueueDrops(std::size_t dropped)
{
    if (dropped > 0 && counters_.dropped.fetch_add(dropped, std::memory_order_relaxed) == 0)
        std::fprintf(stderr, "vantoro: more than %zu answers waiting; further answers are dropped and counted\n",
                     link_.ports.answer_queue_capacity);
}

bool ReceiverThread::WaitForSocket(int timeout_ms)
{
    // Without the pipe nothing could wake the wait for a stop: bound it.
    if (!wake_pipe_.open() && (timeout_ms < 0 || timeout_ms > kPollWithoutPipeMs))
        timeout_ms = kPollWithoutPipeMs;
    const bool readable = net::WaitReadable(socket_.get(), wake_pipe_, timeout_ms);
    // A search's wake-up is taken, or the pipe would read as woken forever.
    if (readable && search_woke_.exchange(false) && !stop_.load())
        net::ClearWake(wake_pipe_);
    return readable;
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
    default:
        if (const auto step = StepOfAcknowledgement(FrameCommand(received)))
            Acknowledged(*step, received);
        break; // the tool's own request codes and anything else
    }
}

void ReceiverThread::Acknowledged(ApplyStep step, const Frame& acknowledgement)
{
    // The sheet writes one camera: its progress dialog hears of a record's
    // acknowledgement before the next record leaves, and of the general
    // record's after the closing frame. A front end writing many cameras
    // hears of each once the next frame is out, so its verification search
    // never overtakes the closing frame.
    const bool each_camera = link_.address_each_camera.load();
    const bool last = IsLastStep(step);
    const bool tell_first = !each_camera && !last;
    if (tell_first)
        link_.observer.StepAcknowledged(step, acknowledgement);
    // The one place that decides whether an acknowledgement drives its
    // camera's sequence: the observer's say (a front end refuses one it has
    // given up on, or that does not echo what it sent; the sheet lets every
    // one through).
    if (link_.observer.MayDriveSequence(step, acknowledgement)) {
        if (last) {
            transmitter_.SendClosingFrame(acknowledgement);
        } else {
            const ApplyStepInfo& next = StepInfo(ApplyStep(int(step) + 1));
            transmitter_.SendNextRecord(acknowledgement, next.set_command, next.slot);
        }
    }
    if (!tell_first)
        link_.observer.StepAcknowledged(step, acknowledgement);
    if (last && !each_camera) {
        // The next search carries the written camera's general record.
        std::lock_guard lock(link_.frame_image.lock);
        std::lock_guard guard(link_.registry.guard());
        if (CameraEntry* camera = link_.sequence_camera.load(); camera && camera->general)
            link_.frame_image.bytes = *camera->general;
    }
}

} // namespace vantoro
