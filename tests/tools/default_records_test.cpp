#include "tools/camera_sim/default_records.h"

#include "link/records.h"

#include <gtest/gtest.h>
#include <set>

namespace vantoro::sim {
namespace {

const MacAddress kFirst{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01};

void ExpectNonZero(const Frame& f, std::size_t from, std::size_t to, const char* what)
{
    for (std::size_t off = from; off < to; ++off)
        ASSERT_NE(f[off], 0) << what << " byte " << off;
}

TEST(DefaultRecords, HeadersCarryReplyCodeAndOwnMac)
{
    const auto cameras = MakeDefaultCameras(4, kFirst);
    ASSERT_EQ(cameras.size(), 4u);
    std::set<MacAddress> macs;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const VirtualCamera& c = cameras[i];
        macs.insert(c.mac);
        EXPECT_EQ(c.mac[5], kFirst[5] + i);
        for (const Frame* f : {&c.records.general, &c.records.user, &c.records.domain}) {
            EXPECT_EQ(FrameMac(*f), c.mac);
            EXPECT_EQ(FrameReplyMode(*f), 0u);
        }
        EXPECT_EQ(FrameCommand(c.records.general), CMD_GENERAL_REPLY);
        EXPECT_EQ(FrameCommand(c.records.user), CMD_USER_REPLY);
        EXPECT_EQ(FrameCommand(c.records.domain), CMD_DOMAIN_REPLY);
    }
    EXPECT_EQ(macs.size(), 4u);
}

TEST(DefaultRecords, GeneralHasEveryAddressAndAFirmwareVersion)
{
    const auto cameras = MakeDefaultCameras(3, kFirst);
    std::set<std::uint32_t> ethernet;
    for (const VirtualCamera& c : cameras) {
        GeneralConfigReader g(c.records.general.data());
        EXPECT_TRUE(g.server_on());
        for (std::uint32_t a : {g.gateway(), g.ethernet_ip(), g.ethernet_mask(), g.bootp_start_ip(), g.bootp_end_ip(),
                                g.ppp_ip(), g.ppp_mask(), g.ppp_client_ip()})
            EXPECT_NE(a, 0u);
        EXPECT_EQ(g.ppp_client_ip_copy(), g.ppp_client_ip());
        EXPECT_EQ(g.ethernet_ip() >> 24, 192u); // first dotted number in the top byte
        EXPECT_EQ(g.firmware_version(), kDefaultFirmwareVersion);
        EXPECT_EQ(g.FirmwareVersionText(), "2.05");
        ethernet.insert(g.ethernet_ip());
        for (std::size_t slot = 0; slot < 4; ++slot) {
            const std::string name = ReadTextField(
                c.records.general.data() + general_layout::camera_name + general_layout::camera_name_stride * slot, 32);
            EXPECT_FALSE(name.empty()) << "slot " << slot;
        }
    }
    EXPECT_EQ(ethernet.size(), cameras.size());
    EXPECT_NE(GeneralConfigReader(cameras[0].records.general.data()).bootp_on(),
              GeneralConfigReader(cameras[1].records.general.data()).bootp_on());
}

TEST(DefaultRecords, UserTableLetsAdminAndViewerIn)
{
    const Frame user = MakeDefaultRecords(0, kFirst).user;
    UserConfigReader u(user.data());
    EXPECT_EQ(u.ListedRows().size(), 3u);
    const int admin = u.FindLogin("ADMIN", "admin");
    ASSERT_GE(admin, 0);
    EXPECT_EQ(u.permissions(admin), 0x3FFu);
    const int viewer = u.FindLogin("viewer", "viewer");
    ASSERT_GE(viewer, 0);
    EXPECT_EQ(u.permissions(viewer), PERM_VIEW_IMAGE);
    EXPECT_EQ(u.FindLogin("viewer", "admin"), -1);
    // Rows past the listed ones are clean, so an added user gets no stray permissions.
    for (int row = 3; row < UserConfigReader::kRows; ++row) {
        EXPECT_TRUE(u.RowEmpty(row));
        EXPECT_EQ(u.permissions(row), 0u);
    }
}

TEST(DefaultRecords, DomainTableHasNamedRows)
{
    const Frame domain = MakeDefaultRecords(2, kFirst).domain;
    DomainConfigReader d(domain.data());
    const auto rows = d.ListedRows();
    ASSERT_GE(rows.size(), 2u);
    for (int row : rows) {
        EXPECT_FALSE(d.name(row).empty());
        EXPECT_FALSE(d.ip_text(row).empty());
    }
    EXPECT_EQ(d.name(2), "cam3.vantoro.example");
}

TEST(DefaultRecords, CarriedThroughAreasHoldNonZeroBytes)
{
    const CameraRecords r = MakeDefaultRecords(1, kFirst);
    // general: every unnamed gap, and the tail behind firmware_version.
    ExpectNonZero(r.general, 14, 16, "general");
    ExpectNonZero(r.general, 28, 44, "general");
    ExpectNonZero(r.general, 52, 56, "general");
    ExpectNonZero(r.general, 64, 76, "general");
    ExpectNonZero(r.general, 84, 88, "general");
    ExpectNonZero(r.general, 96, 100, "general");
    ExpectNonZero(r.general, 756, kFrameSize, "general");
    ExpectNonZero(r.user, 14, 32, "user");
    ExpectNonZero(r.domain, 14, 32, "domain");
    ExpectNonZero(r.domain, 1072, kFrameSize, "domain");
}

TEST(DefaultRecords, CamerasDifferInTheirFiller)
{
    const CameraRecords a = MakeDefaultRecords(0, kFirst);
    const CameraRecords b = MakeDefaultRecords(1, kFirst); // same mac on purpose
    EXPECT_NE(std::vector<std::uint8_t>(a.general.begin() + 756, a.general.end()),
              std::vector<std::uint8_t>(b.general.begin() + 756, b.general.end()));
    EXPECT_EQ(MakeDefaultRecords(1, kFirst).general, b.general); // and are made the same way every time
}

} // namespace
} // namespace vantoro::sim
