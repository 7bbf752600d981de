#include "tools/camera_sim/sim_options.h"

#include "net/socket_layer.h"

#include <gtest/gtest.h>

namespace vantoro::sim {
namespace {

TEST(SimOptions, DefaultsServeOneCameraOnTheCameraPort)
{
    const OptionsResult r = ParseSimOptions({});
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_FALSE(r.help);
    EXPECT_EQ(r.options.cameras, 1);
    EXPECT_EQ(r.options.port, CAMERA_PORT);
    EXPECT_EQ(r.options.reply_port, TOOL_PORT);
    EXPECT_EQ(r.options.bind_address, 0u);
    EXPECT_EQ(r.options.first_mac, (MacAddress{0x00, 0x0A, 0x0B, 0x00, 0x00, 0x01}));
    EXPECT_FALSE(r.options.seed.has_value());
}

TEST(SimOptions, EveryOptionInBothSpellings)
{
    const OptionsResult r = ParseSimOptions({"--cameras", "10000", "--first-mac=02:00:00:aa:bb:fe", "--bind",
                                             "127.0.0.9", "--port=0", "--reply-port", "4000", "--loss", "0.25",
                                             "--duplicate=1", "--delay-ms", "20", "--jitter-ms=7", "--no-reply",
                                             "user", "--no-reply=domain", "--no-ack", "general", "--forget", "domain",
                                             "--forget=user", "--seed",
                                             "18446744073709551615", "--state-file", "/tmp/s", "--log=/tmp/l"});
    ASSERT_TRUE(r.ok()) << r.error;
    const SimOptions& o = r.options;
    EXPECT_EQ(o.cameras, 10000);
    EXPECT_EQ(o.first_mac, (MacAddress{0x02, 0x00, 0x00, 0xAA, 0xBB, 0xFE}));
    EXPECT_EQ(o.bind_address, net::InetAddr("127.0.0.9"));
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.reply_port, 4000);
    EXPECT_DOUBLE_EQ(o.loss, 0.25);
    EXPECT_DOUBLE_EQ(o.duplicate, 1.0);
    EXPECT_EQ(o.delay_ms, 20);
    EXPECT_EQ(o.jitter_ms, 7);
    EXPECT_FALSE(o.no_reply[int(RecordKind::General)]);
    EXPECT_TRUE(o.no_reply[int(RecordKind::User)]);
    EXPECT_TRUE(o.no_reply[int(RecordKind::Domain)]);
    EXPECT_TRUE(o.no_ack[int(RecordKind::General)]);
    EXPECT_FALSE(o.no_ack[int(RecordKind::User)]);
    EXPECT_FALSE(o.no_ack[int(RecordKind::Domain)]);
    EXPECT_FALSE(o.forget[int(RecordKind::General)]);
    EXPECT_TRUE(o.forget[int(RecordKind::User)]);
    EXPECT_TRUE(o.forget[int(RecordKind::Domain)]);
    ASSERT_TRUE(o.seed.has_value());
    EXPECT_EQ(*o.seed, 18446744073709551615ull);
    EXPECT_EQ(o.state_file, "/tmp/s");
    EXPECT_EQ(o.log_file, "/tmp/l");
}

TEST(SimOptions, HelpAndVersionAreFlags)
{
    EXPECT_TRUE(ParseSimOptions({"--help"}).help);
    EXPECT_FALSE(ParseSimOptions({"--help=yes"}).ok());
    EXPECT_NE(SimUsage().find("--state-file"), std::string::npos);
    const OptionsResult v = ParseSimOptions({"--version"});
    EXPECT_TRUE(v.ok() && v.version && !v.help);
    EXPECT_FALSE(ParseSimOptions({"--version=2"}).ok());
    EXPECT_NE(SimUsage().find("--version"), std::string::npos);
}

TEST(SimOptions, BadArgumentsAreRefusedWithAReason)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--cameras", "0"},
        {"--cameras", "-3"},
        {"--cameras", "2x"},
        {"--cameras", "10001"},
        {"--cameras"},
        {"--first-mac", "00:0A:0B:00:00"},
        {"--first-mac", "00:0A:0B:00:00:0G"},
        {"--first-mac", "00:0A:0B:00:00:011"},
        {"--first-mac", "00.0A.0B.00.00.01"},
        {"--first-mac", "00:0A-0B:00:00:01"},
        {"--first-mac", "FF:FF:FF:FF:FF:FE", "--cameras", "3"},
        {"--bind", "localhost"},
        {"--bind", "300.1.1.1"},
        {"--port", "65536"},
        {"--port", ""},
        {"--reply-port", "0"},
        {"--loss", "1.5"},
        {"--loss", "-0.1"},
        {"--loss", "nan"},
        {"--duplicate", "half"},
        {"--delay-ms", "-1"},
        {"--jitter-ms", "1e3"},
        {"--no-reply", "all"},
        {"--no-ack", "User"},
        {"--forget", "all"},
        {"--seed", "-1"},
        {"--state-file", ""},
        {"--log="},
        {"--verbose"},
        {"cameras"},
        {"-c", "3"},
        {"--"},
    };
    for (const auto& args : bad) {
        const OptionsResult r = ParseSimOptions(args);
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_FALSE(r.ok()) << "accepted: " << joined;
        EXPECT_FALSE(r.error.empty()) << joined;
    }
}

TEST(SimOptions, ErrorNamesTheOption)
{
    EXPECT_NE(ParseSimOptions({"--cameras", "0"}).error.find("--cameras"), std::string::npos);
    EXPECT_NE(ParseSimOptions({"--loss", "2"}).error.find("--loss"), std::string::npos);
    EXPECT_NE(ParseSimOptions({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
}

TEST(SimMac, Offset)
{
    // The count carries into the higher bytes.
    EXPECT_EQ(OffsetMac({0x00, 0x0A, 0x0B, 0x00, 0x00, 0xFF}, 1), (MacAddress{0x00, 0x0A, 0x0B, 0x00, 0x01, 0x00}));
    EXPECT_EQ(OffsetMac({0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 3), (MacAddress{0x01, 0x00, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(OffsetMac({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 1), (MacAddress{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(OffsetMac({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, 2).has_value());
}

} // namespace
} // namespace vantoro::sim
