#pragma once
// Every camera that answered during the run, with the latest of each of its
// three records exactly as received. The list is newest first; an index beside
// it keeps a lookup's cost flat however many cameras answer.

#include "link/config_frame.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <array>
#include <vector>

namespace vantoro {

class ObserverSlot;

// The records that answers from one source address brought.
struct SourceRecords {
    std::unique_ptr<Frame> general;
    std::unique_ptr<Frame> user;
    std::unique_ptr<Frame> domain;
    // The interface index the camera's latest answer arrived on; 0 when
    // unknown (WAN mode, or the socket does not say). Under the guard.
    unsigned answer_interface = 0;
    // The address the latest answer came from, network byte order; 0 when
    // unknown. In WAN mode the command line sends the records there. Under
    // the guard.
    std::uint32_t answer_address = 0;
    // When each record was last filed from an answer, by RecordSlot order
    // (general, user, domain): the registry's count of filed answers at the
    // time; 0 never. Under the guard.
    std::uint64_t filed_at[3] = {0, 0, 0};
};

// One hardware address. Its records are those of the source address that
// answered last. When one MAC answers from two addresses (a cloned MAC, or
// one camera reached two ways), each source's records are kept apart and
// never mixed record by record: the one answering takes the entry's place
// with all its records, the others wait in other_sources.
struct CameraEntry : SourceRecords {
    // The other source addresses this MAC answered from, at most
    // kMaxOtherSources (the oldest goes). Under the guard.
    std::vector<SourceRecords> other_sources;
    // Answers of each kind received from this MAC, filed or set aside, by
    // RecordSlot order, whichever address they came from. Under the guard.
    std::uint64_t answers[3] = {0, 0, 0};

    // general, else user, else domain; nullptr for an entry with no record.
    const Frame* PreferredRecord() const;
};
inline constexpr std::size_t kMaxOtherSources = 8;

// Far above any real LAN; it bounds what a stream of answers with made-up
// hardware addresses can take (an entry and its list line are some 1.4 KB).
inline constexpr std::size_t kMaxCameras = 100'000;

class CameraRegistry {
public:
    explicit CameraRegistry(ObserverSlot* observer = nullptr, std::size_t max_cameras = kMaxCameras);
    ~CameraRegistry(); // teardown: frees every node, then the entries
    CameraRegistry(const CameraRegistry&) = delete;
    CameraRegistry& operator=(const CameraRegistry&) = delete;

    // List operations. Callers outside the registry hold guard() around a walk.
    void Add(CameraEntry* entry); // the registry takes ownership of the entry
    void Rewind();
    CameraEntry* Current() const;
    int Next();
    int RemoveCurrent(); // 0, 1, 2 or 3; frees the node, never the entry
    std::size_t size() const { return count_; } // nodes in the list

    // Copies a record reply into the slot its command selects; other codes do nothing.
    static void StoreRecord(CameraEntry& entry, const Frame& frame);

    // Files a record reply under its mac, creating the camera's entry when the
    // address is new; a new camera is told to the observer (CameraFound)
    // with no lock held. With max_cameras entries made, replies of new cameras
    // are refused and counted (said once on stderr); known ones still update.
    // Takes guard() itself. interface_index and source_address: where the
    // reply arrived and from whom (0 unknown), kept as the camera's answer
    // interface and address. A reply from another source address than the
    // entry's switches the entry to that source's records (see CameraEntry).
    void FileRecord(const Frame& frame, unsigned interface_index = 0, std::uint32_t source_address = 0);
    // Replies refused because the registry was full.
    std::uint64_t refused() const { return refused_.load(std::memory_order_relaxed); }

    // While a camera's records are being written, late answers to an earlier
    // search must not replace what is being sent: its replies are then set
    // aside (counted, not filed). Holds or releases one camera, leaving the
    // others as they are. Takes guard().
    void HoldCamera(const MacAddress& mac, bool hold);
    // From now on the observer hears of each answer of a listed camera,
    // filed or set aside, in arrival order (AnswerWatched, once it is
    // filed), so a verification sees every answer and not only the latest.
    // Returns the camera's answers counted so far (CameraEntry::answers);
    // zeros, watching nothing, when it is not listed.
    std::array<std::uint64_t, 3> WatchCamera(const MacAddress& mac);
    void UnwatchCamera(const MacAddress& mac);
    // Answers filed so far; a record filed later has a larger filed_at.
    std::uint64_t filed() const { return filed_.load(std::memory_order_relaxed); }
    // Replies set aside while their camera's records were held.
    std::uint64_t held_back() const { return held_back_.load(std::memory_order_relaxed); }

    // The first entry, newest first, whose preferred record carries mac; its
    // preferred record through *preferred. nullptr when none. Takes guard() itself.
    CameraEntry* FindCamera(const MacAddress& mac, const Frame** preferred = nullptr);
    // The same for a caller that holds guard() already.
    CameraEntry* FindCameraLocked(const MacAddress& mac) { return FindLocked(mac, nullptr); }

    // Covers the list and every entry's records. Taken after the frame lock.
    std::mutex& guard() { return guard_; }

private:
    struct CameraNode {
        CameraNode* prev = nullptr;
        CameraNode* next = nullptr;
        CameraEntry* entry = nullptr;
    };
    CameraEntry* FindLocked(const MacAddress& mac, const Frame** preferred);
    // Under guard_: notes that the record of this reply code was filed now.
    void Stamp(CameraEntry& entry, std::uint32_t reply_command);
    // Under guard_: makes source_address the entry's source, its records with it.
    static void SwitchSource(CameraEntry& entry, std::uint32_t source_address);

    ObserverSlot* observer_;
    const std::size_t max_cameras_;
    std::atomic<std::uint64_t> refused_{0};
    std::atomic<std::uint64_t> held_back_{0};
    std::unordered_set<MacAddress, MacHash> held_; // under guard_
    std::unordered_set<MacAddress, MacHash> watched_; // under guard_
    std::atomic<std::uint64_t> filed_{0};
    bool full_reported_ = false; // under guard_
    CameraNode* head_ = nullptr;
    CameraNode* tail_ = nullptr;
    CameraNode* cursor_ = nullptr;
    std::size_t count_ = 0;
    std::deque<std::unique_ptr<CameraEntry>> entries_;
    std::unordered_map<MacAddress, CameraEntry*, MacHash> index_;
    std::mutex guard_;
};

} // namespace vantoro
