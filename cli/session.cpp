#include "cli/session.h"

#include "cli/text_forms.h"

#include <arpa/inet.h>
#include <algorithm>
#include <thread>

namespace vantoro::cli {

namespace {

using std::chrono::milliseconds;

std::uint32_t SetCommand(ApplyStep step)
{
    switch (step) {
    case ApplyStep::User: return CMD_SET_USER;
    case ApplyStep::Domain: return CMD_SET_DOMAIN;
    case ApplyStep::General: break;
    }
    return CMD_SET_GENERAL;
}

RecordSlot SlotFor(ApplyStep step)
{
    switch (step) {
    case ApplyStep::User: return RecordSlot::User;
    case ApplyStep::Domain: return RecordSlot::Domain;
    case ApplyStep::General: break;
    }
    return RecordSlot::General;
}

void Store(std::unique_ptr<Frame>& slot, const std::optional<Frame>& record)
{
    if (!record)
        return;
    if (!slot)
        slot = std::make_unique<Frame>();
    *slot = *record;
}

} // namespace

Session::Session(SessionOptions options)
    : options_(std::move(options)), windows_(options_.wan.value_or(std::string())),
      link_(std::make_unique<CameraLink>(options_.ports))
{
    windows_.Connect(&link_->receiver);
    link_->state.wan_mode.store(options_.wan.has_value());
    link_->state.messenger.Attach(&windows_);
}

Session::~Session()
{
    link_->receiver.Stop();
    link_->state.messenger.Attach(nullptr);
}

std::optional<std::string> Session::Start()
{
    if (link_->receiver.Start())
        return std::nullopt;
    if (!link_->receiver.running())
        return std::string("cannot start the threads that receive the cameras' answers");
    return "cannot bind UDP port " + std::to_string(options_.ports.tool_port) +
           " for the cameras' answers (is another configuration tool running?)";
}

bool Session::AllComplete(const std::vector<MacAddress>& targets)
{
    CameraRegistry& registry = link_->state.registry;
    for (const MacAddress& mac : targets) {
        CameraEntry* entry = registry.FindCamera(mac);
        if (!entry)
            return false;
        std::lock_guard guard(registry.guard());
        if (!entry->general || !entry->user || !entry->domain)
            return false;
    }
    return true;
}

std::vector<CameraRecords> Session::Discover(const std::vector<MacAddress>* targets,
                                             const std::function<void(const SearchProgress&)>& on_progress)
{
    const auto wait = milliseconds(options_.wait_ms);
    SearchProgress progress;
    progress.total = options_.sweep.count() > 1 ? options_.sweep.count() : 0;
    Clock::time_point finish; // when the search will end, for the time left
    // Reports the count as answers come in, until deadline; true, at once,
    // when every target has sent all three records or a stop was asked for.
    const auto collect_until = [&](Clock::time_point deadline) {
        for (;;) {
            if ((targets && AllComplete(*targets)) || stopped())
                return true;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            progress.found = windows_.WaitForFound(progress.found, std::min(deadline, now + milliseconds(10)));
            progress.ms_left =
                std::max<std::int64_t>(0, std::chrono::duration_cast<milliseconds>(finish - Clock::now()).count());
            if (on_progress)
                on_progress(progress);
        }
    };
    const auto start = Clock::now();
    bool complete = false;
    if (progress.total > 0) {
        // One burst per address, paced: a sweep must not flood a site's links.
        // After a stall (a busy machine, a suspended process) the schedule
        // moves on rather than sending the backlog back to back.
        const std::chrono::nanoseconds interval(1'000'000'000 / options_.rate);
        Clock::time_point due = start;
        for (std::uint64_t i = 0; i < progress.total && !complete; ++i) {
            finish = Clock::now() + std::int64_t(progress.total - i) * interval + wait;
            complete = collect_until(due);
            if (complete)
                break;
            windows_.SetWanAddress(AddressText(options_.sweep.at(i)));
            link_->transmitter.SendDiscoveryBurst();
            progress.sent = i + 1;
            due = std::max(due, Clock::now() - interval) + interval;
        }
        finish = Clock::now() + wait;
    } else {
        finish = start + wait;
        const int bursts = options_.retries + 1;
        for (int k = 0; k < bursts && !complete; ++k) {
            complete = collect_until(start + milliseconds(std::int64_t(options_.wait_ms) * k / bursts));
            if (!complete)
                link_->transmitter.SendDiscoveryBurst();
        }
    }
    if (!complete)
        collect_until(finish);
    // Answers still on their way would replace records about to be edited.
    if (targets && !stopped())
        Settle(std::min(50, options_.wait_ms), std::min(1000, options_.wait_ms));
    return Cameras();
}

std::vector<CameraRecords> Session::Cameras()
{
    std::vector<CameraRecords> cameras;
    CameraRegistry& registry = link_->state.registry;
    {
        std::lock_guard guard(registry.guard());
        cameras.reserve(registry.size());
        registry.Rewind();
        for (CameraEntry* e = registry.Current(); e; e = registry.Next() ? registry.Current() : nullptr) {
            const Frame* preferred = e->PreferredRecord();
            if (!preferred)
                continue;
            CameraRecords c;
            c.mac = FrameMac(*preferred);
            c.answer_interface = e->answer_interface;
            c.answer_address = ntohl(e->answer_address);
            if (e->general)
                c.general = *e->general;
            if (e->user)
                c.user = *e->user;
            if (e->domain)
                c.domain = *e->domain;
            cameras.push_back(std::move(c));
        }
    }
    std::sort(cameras.begin(), cameras.end(), [](const auto& a, const auto& b) { return a.mac < b.mac; });
    return cameras;
}

void Session::AddressCamera(const CameraEntry* entry)
{
    if (!options_.wan)
        return;
    std::uint32_t address;
    {
        std::lock_guard guard(link_->state.registry.guard());
        address = ntohl(entry->answer_address);
    }
    // Never seen answering (cannot happen: the entry holds its answers): the search's address.
    windows_.SetWanAddress(address != 0 ? AddressText(address) : *options_.wan);
}

void Session::Settle(int quiet_ms, int cap_ms)
{
    const auto cap = Clock::now() + milliseconds(cap_ms);
    auto last = link_->receiver.counters().dispatched.load();
    auto quiet_since = Clock::now();
    while (Clock::now() < cap && Clock::now() - quiet_since < milliseconds(quiet_ms)) {
        std::this_thread::sleep_for(milliseconds(std::max(1, quiet_ms / 5)));
        const auto now_count = link_->receiver.counters().dispatched.load();
        if (now_count != last) {
            last = now_count;
            quiet_since = Clock::now();
        }
    }
}

ApplyOutcome Session::RunSequence()
{
    ApplyOutcome out;
    const auto timeout = milliseconds(options_.timeout_ms);
    // The user record starts the chain; the dispatcher sends the domain and
    // general records on the acknowledgements. This thread sleeps until the
    // last acknowledgement or until the step awaited has had its time.
    link_->transmitter.StartApply();
    ApplyStep step = ApplyStep::User;
    auto awaited_since = Clock::now();
    int resends = 0; // of this step
    for (;;) {
        if (windows_.WaitForLastStep(awaited_since + timeout)) {
            out.ok = true;
            return out;
        }
        const CliWindows::StepProgress progress = windows_.Progress();
        int first_open = 0;
        while (first_open < 3 && progress.done[first_open])
            ++first_open;
        if (first_open == 3) {
            out.ok = true;
            return out;
        }
        if (first_open > int(step)) {
            // Acknowledged meanwhile: the next step has its own time, from then.
            step = ApplyStep(first_open);
            awaited_since = progress.acknowledged_at[first_open - 1];
            resends = 0;
            continue;
        }
        if (resends == options_.retries) {
            out.failed_step = step;
            return out;
        }
        ++resends;
        ++out.resends;
        link_->transmitter.SendCurrentRecord(SetCommand(step), SlotFor(step));
        awaited_since = Clock::now();
    }
}

ApplyOutcome Session::Apply(const CameraRecords& records)
{
    CameraRegistry& registry = link_->state.registry;
    CameraEntry* entry = registry.FindCamera(records.mac);
    if (!entry)
        return {};
    // From here until the sequence has ended, late answers to the search are
    // set aside: they carry the camera's old records, and the dispatcher sends
    // each next record from the entry.
    registry.HoldRecords(records.mac);
    std::array<Frame, 3> sent{};
    bool complete;
    {
        std::lock_guard guard(registry.guard());
        Store(entry->general, records.general);
        Store(entry->user, records.user);
        Store(entry->domain, records.domain);
        complete = entry->general && entry->user && entry->domain;
        if (complete) {
            sent[int(ApplyStep::User)] = *entry->user;
            sent[int(ApplyStep::Domain)] = *entry->domain;
            sent[int(ApplyStep::General)] = *entry->general;
        }
    }
    if (!complete) {
        registry.HoldRecords(std::nullopt);
        return {};
    }
    windows_.Track(records.mac, sent);
    AddressCamera(entry);
    link_->state.current_camera.store(entry);
    const ApplyOutcome out = RunSequence();
    // From here on a late acknowledgement finds no current camera and no
    // tracked one, so the dispatcher sends no record for it (a closing frame
    // only echoes that acknowledgement to its own camera).
    link_->state.current_camera.store(nullptr);
    const int strays = windows_.StopTracking();
    registry.HoldRecords(std::nullopt);
    // A resent step can be acknowledged twice, and strays mean answers are
    // crossing: let them land while no camera is current, so that none is
    // counted for the next camera. A clean sequence goes straight on.
    if (out.resends > 0 || strays > 0 || !out.ok)
        Settle(std::min(250, options_.timeout_ms), options_.timeout_ms);
    return out;
}

bool Session::Reset(const MacAddress& mac)
{
    CameraEntry* entry = link_->state.registry.FindCamera(mac);
    if (!entry)
        return false;
    AddressCamera(entry);
    link_->state.current_camera.store(entry);
    const bool sent = link_->transmitter.SendReset();
    link_->state.current_camera.store(nullptr);
    return sent;
}

} // namespace vantoro::cli
