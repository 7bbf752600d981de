#include "tools/camera_sim/state_file.h"

#include "sim_test_support.h"

#include <gtest/gtest.h>

namespace vantoro::sim {
namespace {

using testing::ReadBytes;
using testing::ScratchDir;

std::vector<VirtualCamera> TwoCameras()
{
    auto cameras = MakeDefaultCameras(2, {0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01});
    cameras[1].records.user[100] = 0x5A; // something not in any default
    return cameras;
}

TEST(StateFile, LayoutIsMacThenGeneralUserDomainPerCamera)
{
    const auto cameras = TwoCameras();
    ScratchDir dir;
    const std::string path = dir.File("state.bin");
    ASSERT_FALSE(WriteStateFile(path, cameras));

    std::vector<std::uint8_t> expected;
    for (const VirtualCamera& c : cameras) {
        expected.insert(expected.end(), c.mac.begin(), c.mac.end());
        expected.insert(expected.end(), c.records.general.begin(), c.records.general.end());
        expected.insert(expected.end(), c.records.user.begin(), c.records.user.end());
        expected.insert(expected.end(), c.records.domain.begin(), c.records.domain.end());
    }
    EXPECT_EQ(ReadBytes(path), expected);
    EXPECT_EQ(expected.size(), 2 * kStateBytesPerCamera);
    // Written through a temporary that is renamed, so none is left behind.
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(StateFile, ReadGivesBackWhatWasWrittenAndRewriteReplaces)
{
    auto cameras = TwoCameras();
    ScratchDir dir;
    const std::string path = dir.File("state.bin");
    ASSERT_FALSE(WriteStateFile(path, cameras));
    cameras.pop_back();
    cameras[0].records.domain[1151] = 0;
    ASSERT_FALSE(WriteStateFile(path, cameras));

    const auto read = ReadStateFile(path);
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), 1u);
    EXPECT_EQ((*read)[0].mac, cameras[0].mac);
    EXPECT_EQ((*read)[0].records.general, cameras[0].records.general);
    EXPECT_EQ((*read)[0].records.user, cameras[0].records.user);
    EXPECT_EQ((*read)[0].records.domain, cameras[0].records.domain);
}

TEST(StateFile, RefusesWhatIsNotWholeCameras)
{
    EXPECT_FALSE(DecodeState(std::vector<std::uint8_t>(kStateBytesPerCamera - 1)).has_value());
    EXPECT_FALSE(ReadStateFile("/nonexistent/dir/state.bin").has_value());
    EXPECT_TRUE(WriteStateFile("/nonexistent/dir/state.bin", TwoCameras()));
}

} // namespace
} // namespace vantoro::sim
