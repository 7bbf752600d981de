#include "link/camera_registry.h"
#include "link/link_observer.h"
#include "link_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using namespace vantoro;
using namespace vantoro::testing;

namespace {

struct RegistryFixture : ::testing::Test {
    RecordingObserver events;
    ObserverSlot observer;
    CameraRegistry registry{&observer};
    void SetUp() override { observer.Attach(&events); }
};

// Builds a list of n entries added one after another; returns them oldest first.
std::vector<CameraEntry*> AddEntries(CameraRegistry& r, int n)
{
    std::vector<CameraEntry*> entries;
    for (int i = 0; i < n; ++i) {
        auto* e = new CameraEntry;
        e->user = std::make_unique<Frame>(MakeFrame(CMD_USER_REPLY, Mac(std::uint8_t(i + 1))));
        r.Add(e);
        entries.push_back(e);
    }
    return entries;
}

} // namespace

TEST(CameraRegistryList, WalkVisitsNewestFirstAndNextStopsAtTail)
{
    CameraRegistry r;
    r.Rewind();
    EXPECT_EQ(r.Current(), nullptr);
    EXPECT_EQ(r.Next(), 0);

    auto e = AddEntries(r, 3);
    EXPECT_EQ(r.Current(), e[2]) << "Add leaves the cursor on the new head";
    r.Rewind();
    EXPECT_EQ(r.Current(), e[2]);
    EXPECT_EQ(r.Next(), 1);
    EXPECT_EQ(r.Current(), e[1]);
    EXPECT_EQ(r.Next(), 1);
    EXPECT_EQ(r.Current(), e[0]);
    EXPECT_EQ(r.Next(), 0);
    EXPECT_EQ(r.Current(), e[0]) << "Next at the tail keeps the cursor there";
}

TEST(CameraRegistryList, RemoveCurrentResultsAndCursor)
{
    CameraRegistry empty;
    EXPECT_EQ(empty.RemoveCurrent(), 0);

    CameraRegistry one;
    auto only = AddEntries(one, 1);
    one.Rewind();
    EXPECT_EQ(one.RemoveCurrent(), 0);
    EXPECT_EQ(one.size(), 0u);
    one.Rewind();
    EXPECT_EQ(one.Current(), nullptr);
    EXPECT_NE(only[0]->user, nullptr) << "the entry outlives its node";

    CameraRegistry r;
    auto e = AddEntries(r, 4); // list: e3 e2 e1 e0
    r.Rewind();
    r.Next(); // e2, an inner node
    EXPECT_EQ(r.RemoveCurrent(), 1);
    EXPECT_EQ(r.Current(), e[1]) << "cursor moves to the following node";

    while (r.Next()) {
    }
    EXPECT_EQ(r.Current(), e[0]);
    EXPECT_EQ(r.RemoveCurrent(), 2) << "tail of a longer list";
    EXPECT_EQ(r.Current(), e[1]) << "cursor on the new tail";
    EXPECT_EQ(r.Next(), 0);

    r.Rewind();
    EXPECT_EQ(r.RemoveCurrent(), 3) << "head of a longer list";
    EXPECT_EQ(r.Current(), e[1]) << "cursor on the new head";
    EXPECT_EQ(r.size(), 1u);

    // Teardown frees nodes only: every entry is still readable.
    for (auto* entry : e)
        EXPECT_EQ(FrameCommand(*entry->user), CMD_USER_REPLY);
}

TEST(CameraRegistryList, PreferredRecordIsGeneralThenUserThenDomain)
{
    CameraEntry e;
    EXPECT_EQ(e.PreferredRecord(), nullptr);
    e.domain = std::make_unique<Frame>();
    EXPECT_EQ(e.PreferredRecord(), e.domain.get());
    e.user = std::make_unique<Frame>();
    EXPECT_EQ(e.PreferredRecord(), e.user.get());
    e.general = std::make_unique<Frame>();
    EXPECT_EQ(e.PreferredRecord(), e.general.get());
}

TEST_F(RegistryFixture, FirstReplyCreatesEntryAndNotifiesOnce)
{
    EXPECT_EQ(registry.FindCamera(Mac(1)), nullptr);
    const Frame g = MakeFrame(CMD_GENERAL_REPLY, Mac(1));
    registry.FileRecord(g);
    ASSERT_EQ(registry.size(), 1u);
    ASSERT_EQ(events.seen().size(), 1u);
    EXPECT_EQ(events.seen()[0].event, Event::CameraFound);
    EXPECT_EQ(events.seen()[0].camera, Mac(1));

    const Frame* preferred = nullptr;
    CameraEntry* e = registry.FindCamera(Mac(1), &preferred);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(preferred, e->general.get());
    EXPECT_EQ(*e->general, g) << "filed whole, header included";
    EXPECT_EQ(e->user, nullptr);
    EXPECT_EQ(e->domain, nullptr);
}

TEST_F(RegistryFixture, PastTheCapNewCamerasAreRefusedAndCountedWhileKnownOnesUpdate)
{
    CameraRegistry capped{&observer, 2};
    capped.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(1)));
    capped.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(2)));
    ::testing::internal::CaptureStderr();
    capped.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(3)));
    capped.FileRecord(MakeFrame(CMD_USER_REPLY, Mac(4)));
    capped.FileRecord(MakeFrame(CMD_DOMAIN_REPLY, Mac(3)));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(capped.size(), 2u);
    EXPECT_EQ(capped.refused(), 3u);
    EXPECT_EQ(capped.FindCamera(Mac(3)), nullptr);
    EXPECT_EQ(events.count(Event::CameraFound), 2u);
    EXPECT_NE(said.find("2 cameras"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << "said once: " << said;

    const Frame users = MakeFrame(CMD_USER_REPLY, Mac(1), 0x33);
    capped.FileRecord(users);
    ASSERT_NE(capped.FindCamera(Mac(1)), nullptr);
    ASSERT_NE(capped.FindCamera(Mac(1))->user, nullptr);
    EXPECT_EQ(*capped.FindCamera(Mac(1))->user, users);
    EXPECT_EQ(capped.refused(), 3u);
}

TEST_F(RegistryFixture, ThreeRepliesInAnyOrderMakeOneEntryAndOneNotification)
{
    const std::uint32_t orders[][3] = {
        {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY},
        {CMD_DOMAIN_REPLY, CMD_GENERAL_REPLY, CMD_USER_REPLY},
        {CMD_USER_REPLY, CMD_DOMAIN_REPLY, CMD_GENERAL_REPLY},
    };
    std::uint8_t last = 10;
    for (const auto& order : orders) {
        const MacAddress mac = Mac(++last);
        for (std::uint32_t cmd : order)
            registry.FileRecord(MakeFrame(cmd, mac, std::uint8_t(cmd)));
        CameraEntry* e = registry.FindCamera(mac);
        ASSERT_NE(e, nullptr);
        ASSERT_TRUE(e->general && e->user && e->domain);
        EXPECT_EQ(FrameCommand(*e->general), CMD_GENERAL_REPLY);
        EXPECT_EQ(FrameCommand(*e->user), CMD_USER_REPLY);
        EXPECT_EQ(FrameCommand(*e->domain), CMD_DOMAIN_REPLY);
    }
    EXPECT_EQ(registry.size(), 3u);
    EXPECT_EQ(events.count(Event::CameraFound), 3u);
}

TEST_F(RegistryFixture, UserRecordPreferredUntilGeneralArrives)
{
    registry.FileRecord(MakeFrame(CMD_USER_REPLY, Mac(1)));
    const Frame* preferred = nullptr;
    CameraEntry* e = registry.FindCamera(Mac(1), &preferred);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(preferred, e->user.get());
    registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(1)));
    EXPECT_EQ(registry.FindCamera(Mac(1), &preferred), e);
    EXPECT_EQ(preferred, e->general.get());
}

TEST_F(RegistryFixture, SecondSearchOverwritesInPlaceWithoutNewEntries)
{
    for (std::uint8_t i = 1; i <= 3; ++i)
        for (std::uint32_t cmd : {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY})
            registry.FileRecord(MakeFrame(cmd, Mac(i)));
    CameraEntry* e = registry.FindCamera(Mac(2));
    const Frame* general_buffer = e->general.get();
    (*e->general)[500] ^= 0xFF; // an edit not yet applied

    for (std::uint8_t i = 1; i <= 3; ++i)
        for (std::uint32_t cmd : {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY})
            registry.FileRecord(MakeFrame(cmd, Mac(i), 0x33));

    EXPECT_EQ(registry.size(), 3u);
    EXPECT_EQ(events.count(Event::CameraFound), 3u);
    EXPECT_EQ(registry.FindCamera(Mac(2)), e);
    EXPECT_EQ(e->general.get(), general_buffer) << "the slot keeps its buffer";
    EXPECT_EQ(*e->general, MakeFrame(CMD_GENERAL_REPLY, Mac(2), 0x33)) << "the reply replaces the edit";

    // The walk meets the cameras newest first.
    registry.Rewind();
    std::vector<std::uint8_t> order;
    do
        order.push_back((*registry.Current()->PreferredRecord())[kMacOffset + 5]);
    while (registry.Next());
    EXPECT_EQ(order, (std::vector<std::uint8_t>{3, 2, 1}));
}

TEST_F(RegistryFixture, ReplyWithoutPageWindowRegistersSilentlyForGood)
{
    events.hears_found = false;
    registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(7)));
    events.hears_found = true;
    registry.FileRecord(MakeFrame(CMD_USER_REPLY, Mac(7)));
    EXPECT_NE(registry.FindCamera(Mac(7)), nullptr);
    EXPECT_EQ(events.count(Event::CameraFound), 0u);
}

TEST_F(RegistryFixture, NonReplyCodesFileNothing)
{
    for (std::uint32_t cmd : {CMD_GET_GENERAL, CMD_SET_USER, CMD_USER_SET_ACK, CMD_APPLY_DONE, 0u, 0x15000000u}) {
        registry.FileRecord(MakeFrame(cmd, Mac(9)));
        CameraEntry e;
        CameraRegistry::StoreRecord(e, MakeFrame(cmd, Mac(9)));
        EXPECT_EQ(e.PreferredRecord(), nullptr);
    }
    EXPECT_EQ(registry.size(), 0u);
    EXPECT_TRUE(events.seen().empty());
}

TEST_F(RegistryFixture, NotificationIsSentWithTheGuardReleased)
{
    bool guard_free = false;
    events.on_event = [&](Event) {
        // The GUI thread may be waiting for the guard while it handles this.
        guard_free = registry.guard().try_lock();
        if (guard_free)
            registry.guard().unlock();
        // And the page can already find the camera it is told about.
        EXPECT_NE(registry.FindCamera(Mac(4)), nullptr);
    };
    registry.FileRecord(MakeFrame(CMD_DOMAIN_REPLY, Mac(4)));
    EXPECT_TRUE(guard_free);
}

TEST_F(RegistryFixture, HeldCamerasSetTheirAnswersAsideAndEveryFilingIsStamped)
{
    for (std::uint8_t i = 1; i <= 3; ++i)
        registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(i)));
    const std::uint64_t mark = registry.filed();
    EXPECT_EQ(mark, 3u);
    registry.HoldCamera(Mac(1), true);
    registry.HoldCamera(Mac(2), true);
    registry.HoldCamera(Mac(2), false);
    registry.HoldCamera(Mac(3), true);
    for (std::uint8_t i = 1; i <= 3; ++i) {
        registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(i), 0x44));
        registry.FileRecord(MakeFrame(CMD_DOMAIN_REPLY, Mac(i), 0x44));
    }
    EXPECT_EQ(registry.held_back(), 4u) << "cameras 1 and 3, two answers each";
    const CameraEntry* held = registry.FindCamera(Mac(1));
    const CameraEntry* filed = registry.FindCamera(Mac(2));
    EXPECT_EQ(*held->general, MakeFrame(CMD_GENERAL_REPLY, Mac(1))) << "set aside, not filed";
    EXPECT_EQ(held->domain, nullptr);
    EXPECT_LE(held->filed_at[0], mark);
    EXPECT_EQ(*filed->general, MakeFrame(CMD_GENERAL_REPLY, Mac(2), 0x44));
    EXPECT_GT(filed->filed_at[0], mark);
    EXPECT_GT(filed->filed_at[2], filed->filed_at[0]) << "in the order filed";
    EXPECT_EQ(filed->filed_at[1], 0u) << "never filed";

    // Holding one camera leaves every other filed; released, it is filed again.
    registry.HoldCamera(Mac(1), false);
    registry.HoldCamera(Mac(3), false);
    registry.HoldCamera(Mac(2), true);
    registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(3), 0x55));
    EXPECT_EQ(*registry.FindCamera(Mac(3))->general, MakeFrame(CMD_GENERAL_REPLY, Mac(3), 0x55));
    registry.HoldCamera(Mac(2), false);
    registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(2), 0x55));
    EXPECT_EQ(*registry.FindCamera(Mac(2))->general, MakeFrame(CMD_GENERAL_REPLY, Mac(2), 0x55));
}

TEST_F(RegistryFixture, OneMacAnsweringFromTwoAddressesKeepsEachSourcesRecordsApart)
{
    // Network byte order, as the receiver passes them; the interface goes with each.
    const std::uint32_t a = 0x0501A8C0, b = 0x0601A8C0;
    const auto file = [&](std::uint32_t cmd, std::uint32_t from, std::uint8_t fill) {
        registry.FileRecord(MakeFrame(cmd, Mac(5), fill), from == a ? 2 : 3, from);
    };
    for (std::uint32_t cmd : {CMD_GENERAL_REPLY, CMD_USER_REPLY, CMD_DOMAIN_REPLY})
        file(cmd, a, 0xA0);
    file(CMD_GENERAL_REPLY, b, 0xB0);
    CameraEntry* e = registry.FindCamera(Mac(5));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(registry.size(), 1u) << "one list line per MAC";
    EXPECT_EQ(events.count(Event::CameraFound), 1u);
    EXPECT_EQ(e->answer_address, b);
    EXPECT_EQ(e->answer_interface, 3u);
    EXPECT_EQ(*e->general, MakeFrame(CMD_GENERAL_REPLY, Mac(5), 0xB0));
    EXPECT_EQ(e->user, nullptr) << "a's user record must not pass for b's";
    EXPECT_EQ(e->domain, nullptr);
    ASSERT_EQ(e->other_sources.size(), 1u);
    EXPECT_EQ(e->other_sources[0].answer_address, a);
    EXPECT_EQ(*e->other_sources[0].user, MakeFrame(CMD_USER_REPLY, Mac(5), 0xA0));

    // a answers again: its own records come back, b's wait aside.
    file(CMD_DOMAIN_REPLY, a, 0xA1);
    EXPECT_EQ(e->answer_address, a);
    EXPECT_EQ(*e->general, MakeFrame(CMD_GENERAL_REPLY, Mac(5), 0xA0));
    EXPECT_EQ(*e->user, MakeFrame(CMD_USER_REPLY, Mac(5), 0xA0));
    EXPECT_EQ(*e->domain, MakeFrame(CMD_DOMAIN_REPLY, Mac(5), 0xA1));
    ASSERT_EQ(e->other_sources.size(), 1u);
    EXPECT_EQ(e->other_sources[0].answer_address, b);
    EXPECT_EQ(*e->other_sources[0].general, MakeFrame(CMD_GENERAL_REPLY, Mac(5), 0xB0));

    // Answers with no known source, or from the same one, switch nothing.
    registry.FileRecord(MakeFrame(CMD_USER_REPLY, Mac(5), 0xA2), 2, 0);
    EXPECT_EQ(*e->user, MakeFrame(CMD_USER_REPLY, Mac(5), 0xA2));
    EXPECT_EQ(e->other_sources.size(), 1u);

    // However many addresses answer, the sources kept stay bounded.
    for (std::uint32_t k = 0; k < 3 * kMaxOtherSources; ++k)
        registry.FileRecord(MakeFrame(CMD_GENERAL_REPLY, Mac(5)), 4, 0x0A000000 + k);
    EXPECT_EQ(e->other_sources.size(), kMaxOtherSources);
    EXPECT_EQ(registry.size(), 1u);
}
