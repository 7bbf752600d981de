#pragma once
// What a front end hears from the link. Called on the link's dispatch thread,
// with no link lock held; the link handles no further answer until the call
// returns, so a front end may block in it (the sheet waits for its window).

#include "link/apply_steps.h"
#include "link/config_frame.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace vantoro {

class LinkObserver {
public:
    virtual ~LinkObserver() = default;

    // A camera answered for the first time in this run.
    virtual void CameraFound(const MacAddress& mac) = 0;
    // A camera acknowledged a step of the apply sequence. The camera's hardware
    // address is the acknowledgement's (FrameMac), and the rest of the frame
    // is what the camera echoed.
    virtual void StepAcknowledged(ApplyStep step, const Frame& acknowledgement) = 0;
    // Asked for every acknowledgement of a step: a yes sends the next record
    // of the camera whose sequence it drives, or after the last step the
    // closing frame. Without SetAddressEachCamera (the sheet) StepAcknowledged
    // comes first for the user and domain steps; otherwise, and for the last
    // step, it follows the frame. The sheet lets every one drive the
    // sequence; a front end that writes many cameras refuses those that are
    // not the answer it still awaits.
    virtual bool MayDriveSequence(ApplyStep /*step*/, const Frame& /*acknowledgement*/) { return true; }
    // The WAN address as text, read at each WAN-mode transmission while the
    // link has no address word of its own (SetWanAddress). The sheet answers
    // with its address field, at most 1023 characters.
    virtual std::string WanAddressText() { return {}; }
    // Answers were dropped for want of room, by the system (the socket
    // buffer was full) or the link (its queue was), so a list of cameras may
    // be incomplete; total counts every one dropped in this run.
    virtual void AnswersDropped(std::uint64_t /*total*/) {}
    // A search (CameraLink::Search) sent its burst again as often as it may
    // and its last round still lost answers: the list may be incomplete.
    // lost counts the answers dropped since the search began. Called on the
    // link's drain thread, not the dispatch thread: it must return at once
    // and may not wait for the user interface.
    virtual void SearchIncomplete(std::uint64_t /*lost*/) {}
    // A watched camera (CameraLink::WatchCamera) answered, and the answer
    // was filed or set aside. Lets a verification react to each answer as it
    // comes instead of looking for them.
    virtual void AnswerWatched(const Frame& /*answer*/) {}
};

// Where the link's threads tell their events: the observer attached now, or
// none, when an event is dropped (and an acknowledgement may drive the
// sequence). The observer must outlive the receiver threads that call it.
class ObserverSlot {
public:
    void Attach(LinkObserver* observer) { observer_.store(observer); }

    void CameraFound(const MacAddress& mac)
    {
        if (LinkObserver* o = observer_.load())
            o->CameraFound(mac);
    }
    void StepAcknowledged(ApplyStep step, const Frame& acknowledgement)
    {
        if (LinkObserver* o = observer_.load())
            o->StepAcknowledged(step, acknowledgement);
    }
    bool MayDriveSequence(ApplyStep step, const Frame& acknowledgement)
    {
        LinkObserver* o = observer_.load();
        return o == nullptr || o->MayDriveSequence(step, acknowledgement);
    }
    std::string WanAddressText()
    {
        LinkObserver* o = observer_.load();
        return o != nullptr ? o->WanAddressText() : std::string();
    }
    void AnswersDropped(std::uint64_t total)
    {
        if (LinkObserver* o = observer_.load())
            o->AnswersDropped(total);
    }
    void SearchIncomplete(std::uint64_t lost)
    {
        if (LinkObserver* o = observer_.load())
            o->SearchIncomplete(lost);
    }
    void AnswerWatched(const Frame& answer)
    {
        if (LinkObserver* o = observer_.load())
            o->AnswerWatched(answer);
    }

private:
    std::atomic<LinkObserver*> observer_{nullptr};
};

} // namespace vantoro
