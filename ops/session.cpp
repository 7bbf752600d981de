#include "ops/session.h"

#include "link/records.h"
#include "util/record_text.h"

#include <algorithm>
#include <thread>

namespace vantoro::ops {

using std::chrono::milliseconds;

namespace {

std::uint64_t DropsTotal(const CameraLink::Counters& c)
{
    return c.dropped + c.kernel_dropped;
}

} // namespace

Session::Session(SessionOptions options)
    : options_(std::move(options)), link_(std::make_unique<CameraLink>(options_.ports)),
      pace_(options_.parallel, options_.max_rate)
{
    link_->SetObserver(&events_);
    // Records and closing frames go to each camera where it answered, and
    // each acknowledgement drives its own camera's sequence.
    link_->SetAddressEachCamera(true);
    link_->SetWanMode(options_.wan.has_value());
    link_->SetWanAddress(options_.wan);
}

Session::~Session()
{
    link_->Stop();
    link_->SetObserver(nullptr);
}

Error Session::Start()
{
    return link_->Start();
}

bool Session::AllComplete(const std::vector<MacAddress>& targets)
{
    for (const MacAddress& mac : targets) {
        const auto camera = link_->Camera(mac);
        if (!camera || !camera->complete())
            return false;
    }
    return true;
}

std::vector<CameraSnapshot> Session::Discover(const std::vector<MacAddress>* targets,
                                             const std::function<void(const SearchProgress&)>& on_progress,
                                             SearchScope scope)
{
    const bool end_when_found = targets && scope == SearchScope::UntilTargetsFound;
    const auto wait = milliseconds(options_.wait_ms);
    SearchProgress progress;
    progress.total = options_.sweep.count() > 1 ? options_.sweep.count() : 0;
    Clock::time_point finish; // when the search will end, for the time left
    // Reports the count as answers come in, until deadline; true, at once,
    // when every target has sent all three records or a stop was asked for.
    const auto collect_until = [&](Clock::time_point deadline) {
        for (;;) {
            if ((end_when_found && AllComplete(*targets)) || stopped())
                return true;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            progress.found = events_.WaitForFound(progress.found, std::min(deadline, now + milliseconds(10)));
            progress.ms_left =
                std::max<std::int64_t>(0, std::chrono::duration_cast<milliseconds>(finish - Clock::now()).count());
            if (on_progress)
                on_progress(progress);
        }
    };
    const auto start = Clock::now();
    const std::uint64_t drops_before = DropsTotal(link_->counters());
    bool complete = false;
    bool searched = false; // through the link's search, which sends again on drops
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
            link_->Search({.address = options_.sweep.at(i), .carry_frame_image = false});
            ++searches_sent_;
            progress.sent = i + 1;
            due = std::max(due, Clock::now() - interval) + interval;
        }
        finish = Clock::now() + wait;
    } else {
        finish = start + wait;
        const int bursts = options_.retries + 1;
        for (int k = 0; k < bursts && !complete; ++k) {
            complete = collect_until(start + milliseconds(std::int64_t(options_.wait_ms) * k / bursts));
            if (complete)
                break;
            // The first burst opens the link's search, whose window is the
            // wait: the link sends it again, on top of the retries, while
            // answers were dropped.
            SearchRequest search;
            search.carry_frame_image = false;
            search.window = k == 0 ? wait : milliseconds(0);
            link_->Search(search);
            ++searches_sent_;
            searched = true;
        }
    }
    if (!complete)
        collect_until(finish);
    // The link's windows close on its receiver's thread; none runs without it.
    for (int bursts_seen = 1; searched && !complete && link_->running();) {
        const CameraLink::SearchStatus search = link_->search_status();
        if (!search.under_way)
            break;
        if (search.bursts != bursts_seen) {
            bursts_seen = search.bursts;
            finish = Clock::now() + wait;
        }
        complete = collect_until(Clock::now() + milliseconds(10));
    }
    if (searched) {
        link_->EndSearch();
        searches_sent_ += std::uint64_t(std::max(0, link_->search_status().bursts - 1)); // the link's own
        // Found every camera asked for: nothing that matters was lost.
        answers_lost_ = complete && targets ? 0 : link_->search_status().lost;
    } else {
        answers_lost_ = DropsTotal(link_->counters()) - drops_before;
    }
    searched_whole_ = !complete && !stopped();
    // Answers still on their way would replace records about to be edited.
    if (targets && !stopped())
        Settle(std::min(50, options_.wait_ms), std::min(1000, options_.wait_ms));
    return Cameras();
}

std::vector<CameraSnapshot> Session::Cameras()
{
    return link_->Cameras();
}

void Session::Settle(int quiet_ms, int cap_ms)
{
    const auto cap = Clock::now() + milliseconds(cap_ms);
    auto last = link_->counters().dispatched;
    auto quiet_since = Clock::now();
    while (Clock::now() < cap && Clock::now() - quiet_since < milliseconds(quiet_ms)) {
        std::this_thread::sleep_for(milliseconds(std::max(1, quiet_ms / 5)));
        const auto now_count = link_->counters().dispatched;
        if (now_count != last) {
            last = now_count;
            quiet_since = Clock::now();
        }
    }
}

ApplyOutcome Session::Apply(const CameraSnapshot& records)
{
    WriteOutcome outcome;
    Write(1, [&](std::size_t) { return std::optional<WriteJob>({records, records, false}); },
          [&](std::size_t, const WriteOutcome& o) { outcome = o; });
    return outcome.sequence;
}

bool Session::Reset(const MacAddress& mac)
{
    return link_->SendReset(mac);
}

bool LoginAccepted(const CameraSnapshot& camera, const std::string& name, const std::string& password)
{
    // The table holds Windows-1252 bytes: the typed texts are compared as
    // those, ASCII letters in any case; what the code page cannot hold matches nothing.
    const auto name_bytes = RecordTextFromUtf8(name);
    const auto password_bytes = RecordTextFromUtf8(password);
    return camera.user && name_bytes && password_bytes &&
           UserConfigReader(camera.user->data()).FindLogin(*name_bytes, *password_bytes) >= 0;
}

std::string ResendText(const ApplyOutcome& outcome)
{
    if (outcome.resends == 0)
        return {};
    return " after " + std::to_string(outcome.resends) + " resent step" + (outcome.resends == 1 ? "" : "s");
}

std::string OutcomeText(const ApplyOutcome& outcome)
{
    if (outcome.ok)
        return "applied" + ResendText(outcome);
    return std::string("no acknowledgement at step ") + StepName(outcome.failed_step);
}

} // namespace vantoro::ops
