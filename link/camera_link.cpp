#include "link/camera_link.h"

#include "link/link_core.h"
#include "net/socket_layer.h"

#include <algorithm>
#include <atomic>
#include <mutex>

namespace vantoro {

namespace {

CameraSnapshot SnapshotOf(const CameraEntry& e, const MacAddress& mac)
{
    CameraSnapshot c;
    c.mac = mac;
    c.answer_interface = e.answer_interface;
    c.answer_address = Ipv4Address(net::NetworkToWord(e.answer_address));
    if (e.general)
        c.general = *e.general;
    if (e.user)
        c.user = *e.user;
    if (e.domain)
        c.domain = *e.domain;
    std::copy(std::begin(e.filed_at), std::end(e.filed_at), c.filed_at.begin());
    for (const SourceRecords& other : e.other_sources)
        c.other_sources.push_back(Ipv4Address(net::NetworkToWord(other.answer_address)));
    std::sort(c.other_sources.begin(), c.other_sources.end());
    return c;
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

LinkCore& LinkInternals::Core(CameraLink& link)
{
    return *link.core_;
}

CameraLink::CameraLink(LinkPorts ports) : core_(std::make_unique<LinkCore>(std::move(ports))) {}

CameraLink::~CameraLink()
{
    core_->receiver.Stop();
    core_->state.observer.Attach(nullptr);
}

void CameraLink::SetObserver(LinkObserver* observer)
{
    core_->state.observer.Attach(observer);
}

Error CameraLink::Start()
{
    if (core_->receiver.Start())
        return std::nullopt;
    return core_->receiver.StartFailure();
}

bool CameraLink::running() const
{
    return core_->receiver.running();
}

void CameraLink::RequestStop()
{
    core_->receiver.RequestStop();
}

bool CameraLink::finished() const
{
    return core_->receiver.finished();
}

void CameraLink::Stop()
{
    core_->receiver.Stop();
}

void CameraLink::SetWanMode(bool on)
{
    core_->state.wan_mode.store(on);
}

bool CameraLink::wan_mode() const
{
    return core_->state.wan_mode.load();
}

void CameraLink::SetWanAddress(std::optional<Ipv4Address> address)
{
    // The word first: a transmission that sees the flag sees its word.
    core_->state.wan_address.store(address ? net::WordToNetwork(address->word()) : 0);
    core_->state.wan_address_set.store(address.has_value());
}

std::vector<NetInterface> CameraLink::Interfaces() const
{
    return core_->state.ports.list_interfaces ? core_->state.ports.list_interfaces() : std::vector<NetInterface>{};
}

void CameraLink::Search(const SearchRequest& request)
{
    if (request.window.count() > 0)
        core_->receiver.BeginSearch(request);
    else
        core_->transmitter.SendSearchBurst(request);
}

CameraLink::SearchStatus CameraLink::search_status() const
{
    const SearchRound::Status s = core_->receiver.SearchStatus();
    return {s.under_way, s.bursts, s.lost};
}

void CameraLink::EndSearch()
{
    core_->receiver.EndSearch();
}

std::size_t CameraLink::CameraCount() const
{
    std::lock_guard guard(core_->state.registry.guard());
    return core_->state.registry.size();
}

std::optional<CameraSnapshot> CameraLink::Camera(const MacAddress& mac) const
{
    CameraEntry* entry = core_->state.registry.FindCamera(mac);
    if (!entry)
        return std::nullopt;
    std::lock_guard guard(core_->state.registry.guard());
    return SnapshotOf(*entry, mac);
}

std::vector<CameraSnapshot> CameraLink::Cameras() const
{
    std::vector<CameraSnapshot> cameras;
    CameraRegistry& registry = core_->state.registry;
    {
        std::lock_guard guard(registry.guard());
        cameras.reserve(registry.size());
        registry.Rewind();
        for (CameraEntry* e = registry.Current(); e; e = registry.Next() ? registry.Current() : nullptr)
            if (const Frame* preferred = e->PreferredRecord())
                cameras.push_back(SnapshotOf(*e, FrameMac(*preferred)));
    }
    std::sort(cameras.begin(), cameras.end(), [](const auto& a, const auto& b) { return a.mac < b.mac; });
    return cameras;
}

void CameraLink::LoadFrameImage(const Frame& record)
{
    std::lock_guard lock(core_->state.frame_image.lock);
    core_->state.frame_image.bytes = record;
}

bool CameraLink::EditRecord(const MacAddress& mac, RecordSlot slot, const std::function<void(Frame&)>& edit)
{
    CameraEntry* entry = core_->state.registry.FindCamera(mac);
    if (!entry)
        return false;
    std::lock_guard guard(core_->state.registry.guard());
    const std::unique_ptr<Frame>& record = SlotOf(*entry, slot);
    if (!record)
        return false;
    edit(*record);
    return true;
}

bool CameraLink::StoreRecords(const CameraSnapshot& records)
{
    CameraEntry* entry = core_->state.registry.FindCamera(records.mac);
    if (!entry)
        return false;
    std::lock_guard guard(core_->state.registry.guard());
    Store(entry->general, records.general);
    Store(entry->user, records.user);
    Store(entry->domain, records.domain);
    return true;
}

void CameraLink::HoldCamera(const MacAddress& mac, bool hold)
{
    core_->state.registry.HoldCamera(mac, hold);
}

std::array<std::uint64_t, 3> CameraLink::WatchCamera(const MacAddress& mac)
{
    return core_->state.registry.WatchCamera(mac);
}

void CameraLink::UnwatchCamera(const MacAddress& mac)
{
    core_->state.registry.UnwatchCamera(mac);
}

void CameraLink::SetAddressEachCamera(bool on)
{
    core_->state.address_each_camera.store(on);
}

bool CameraLink::SetSequenceCamera(const MacAddress& mac)
{
    CameraEntry* entry = core_->state.registry.FindCamera(mac);
    if (!entry)
        return false;
    core_->state.sequence_camera.store(entry);
    return true;
}

bool CameraLink::SendStep(const MacAddress& mac, ApplyStep step)
{
    // Its sequence starts: the acknowledgements that follow concern this camera.
    if (step == kApplyStepTable[0].step && !SetSequenceCamera(mac))
        return false;
    return core_->transmitter.SendCameraRecord(mac, StepInfo(step).set_command, StepInfo(step).slot);
}

bool CameraLink::SendReset(const MacAddress& mac)
{
    return core_->transmitter.SendCameraRecord(mac, CMD_RESET, RecordSlot::General);
}

CameraLink::Counters CameraLink::counters() const
{
    core_->receiver.ReadDropsTotal(); // drops no answer followed count too
    const ReceiverThread::Counters& c = core_->receiver.counters();
    return {c.dispatched.load(), c.refused.load(), c.dropped.load(), c.kernel_dropped.load(),
            core_->state.registry.held_back()};
}

} // namespace vantoro
