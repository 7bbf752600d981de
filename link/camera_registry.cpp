#include "link/camera_registry.h"

#include "link/link_observer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vantoro {

const Frame* CameraEntry::PreferredRecord() const
{
    if (general)
        return general.get();
    if (user)
        return user.get();
    return domain.get();
}

CameraRegistry::CameraRegistry(ObserverSlot* observer, std::size_t max_cameras)
    : observer_(observer), max_cameras_(max_cameras)
{
}

CameraRegistry::~CameraRegistry()
{
    Rewind();
    while (RemoveCurrent() != 0) {
    }
}

void CameraRegistry::Add(CameraEntry* entry)
{
    auto* node = new CameraNode{nullptr, head_, entry};
    if (head_)
        head_->prev = node;
    else
        tail_ = node;
    head_ = node;
    cursor_ = node;
    entries_.emplace_back(entry);
    ++count_;
    // The newest entry wins, as it would in a walk from the head.
    if (const Frame* rec = entry->PreferredRecord())
        index_[FrameMac(*rec)] = entry;
}

void CameraRegistry::Rewind()
{
    cursor_ = head_;
}

CameraEntry* CameraRegistry::Current() const
{
    return cursor_ ? cursor_->entry : nullptr;
}

int CameraRegistry::Next()
{
    if (cursor_ && cursor_->next) {
        cursor_ = cursor_->next;
        return 1;
    }
    return 0;
}

int CameraRegistry::RemoveCurrent()
{
    CameraNode* n = cursor_;
    if (!n)
        return 0;
    int result;
    if (n->prev && n->next) {
        n->prev->next = n->next;
        n->next->prev = n->prev;
        cursor_ = n->next;
        result = 1;
    } else if (n->prev) {
        n->prev->next = nullptr;
        tail_ = n->prev;
        cursor_ = n->prev;
        result = 2;
    } else if (n->next) {
        n->next->prev = nullptr;
        head_ = n->next;
        cursor_ = n->next;
        result = 3;
    } else {
        head_ = tail_ = cursor_ = nullptr;
        result = 0;
    }
    // The entry stays: references to it (the sequence camera) remain valid.
    if (const Frame* rec = n->entry->PreferredRecord()) {
        auto it = index_.find(FrameMac(*rec));
        if (it != index_.end() && it->second == n->entry)
            index_.erase(it);
    }
    delete n;
    --count_;
    return result;
}

void CameraRegistry::StoreRecord(CameraEntry& entry, const Frame& frame)
{
    std::unique_ptr<Frame>* slot;
    switch (FrameCommand(frame)) {
    case CMD_GENERAL_REPLY: slot = &entry.general; break;
    case CMD_USER_REPLY: slot = &entry.user; break;
    case CMD_DOMAIN_REPLY: slot = &entry.domain; break;
    default: return;
    }
    if (!*slot)
        *slot = std::make_unique<Frame>();
    **slot = frame;
}

CameraEntry* CameraRegistry::FindLocked(const MacAddress& mac, const Frame** preferred)
{
    // Every record filed into an entry carries the mac it was found by, so the
    // index gives the same entry as a walk from the newest camera would.
    auto it = index_.find(mac);
    if (it == index_.end())
        return nullptr;
    const Frame* rec = it->second->PreferredRecord();
    if (!rec)
        return nullptr;
    if (preferred)
        *preferred = rec;
    return it->second;
}

CameraEntry* CameraRegistry::FindCamera(const MacAddress& mac, const Frame** preferred)
{
    std::lock_guard lock(guard_);
    return FindLocked(mac, preferred);
}

void CameraRegistry::HoldCamera(const MacAddress& mac, bool hold)
{
    std::lock_guard lock(guard_);
    if (hold)
        held_.insert(mac);
    else
        held_.erase(mac);
}

std::array<std::uint64_t, 3> CameraRegistry::WatchCamera(const MacAddress& mac)
{
    std::lock_guard lock(guard_);
    const CameraEntry* entry = FindLocked(mac, nullptr);
    if (!entry)
        return {};
    watched_.insert(mac);
    return {entry->answers[0], entry->answers[1], entry->answers[2]};
}

void CameraRegistry::UnwatchCamera(const MacAddress& mac)
{
    std::lock_guard lock(guard_);
    watched_.erase(mac);
}

void CameraRegistry::Stamp(CameraEntry& entry, std::uint32_t reply_command)
{
    const int slot = reply_command == CMD_GENERAL_REPLY ? 0 : reply_command == CMD_USER_REPLY ? 1 : 2;
    entry.filed_at[slot] = filed_.fetch_add(1, std::memory_order_relaxed) + 1;
}

void CameraRegistry::SwitchSource(CameraEntry& entry, std::uint32_t source_address)
{
    SourceRecords& current = entry;
    auto& others = entry.other_sources;
    const auto known = std::find_if(others.begin(), others.end(),
                                    [&](const SourceRecords& s) { return s.answer_address == source_address; });
    if (known != others.end()) {
        std::swap(current, *known);
        return;
    }
    if (others.size() >= kMaxOtherSources)
        others.erase(others.begin());
    others.push_back(std::move(current));
    current = SourceRecords{};
    current.answer_address = source_address;
}

void CameraRegistry::FileRecord(const Frame& frame, unsigned interface_index, std::uint32_t source_address)
{
    const std::uint32_t command = FrameCommand(frame);
    if (command != CMD_GENERAL_REPLY && command != CMD_USER_REPLY && command != CMD_DOMAIN_REPLY)
        return;
    bool added = false;
    bool first_refusal = false;
    bool watched = false;
    {
        std::lock_guard lock(guard_);
        if (CameraEntry* entry = FindLocked(FrameMac(frame), nullptr)) {
            ++entry->answers[command == CMD_GENERAL_REPLY ? 0 : command == CMD_USER_REPLY ? 1 : 2];
            watched = !watched_.empty() && watched_.count(FrameMac(frame));
            if (!held_.empty() && held_.count(FrameMac(frame))) {
                held_back_.fetch_add(1, std::memory_order_relaxed);
            } else {
                // Records of two sources never mix: each keeps its own.
                if (source_address != 0 && entry->answer_address != 0 && source_address != entry->answer_address)
                    SwitchSource(*entry, source_address);
                StoreRecord(*entry, frame);
                Stamp(*entry, command);
                entry->answer_interface = interface_index;
                if (source_address != 0) // an answer of unknown source keeps the known one
                    entry->answer_address = source_address;
            }
        } else if (entries_.size() < max_cameras_) {
            // Entries live for the run, so their number is what bounds memory.
            auto entry = std::make_unique<CameraEntry>();
            ++entry->answers[command == CMD_GENERAL_REPLY ? 0 : command == CMD_USER_REPLY ? 1 : 2];
            StoreRecord(*entry, frame);
            Stamp(*entry, command);
            entry->answer_interface = interface_index;
            entry->answer_address = source_address;
            Add(entry.release());
            added = true;
        } else {
            refused_.fetch_add(1, std::memory_order_relaxed);
            first_refusal = !full_reported_;
            full_reported_ = true;
        }
    }
    // Written and sent with no lock held: the page's handler runs on the GUI
    // thread, which may itself be waiting for the guard.
    if (first_refusal)
        std::fprintf(stderr, "vantoro: %zu cameras listed; answers from further cameras are ignored\n", max_cameras_);
    if (added && observer_)
        observer_->CameraFound(FrameMac(frame));
    if (watched && observer_) // told once filed, so what it reads agrees
        observer_->AnswerWatched(frame);
}

} // namespace vantoro
