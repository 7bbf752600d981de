#include "tools/camera_sim/sim_options.h"

#include "net/socket_layer.h"

#include "util/mac_text.h"
#include "util/strict_address.h"

#include <charconv>

namespace vantoro::sim {

namespace {

constexpr int kMaxCameras = 10000;
constexpr int kMaxDelayMs = 600000;

template <class T>
std::optional<T> ParseNumber(std::string_view text)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

std::optional<double> ParseProbability(std::string_view text)
{
    const auto value = ParseNumber<double>(text);
    if (!value || !(*value >= 0.0 && *value <= 1.0))
        return std::nullopt;
    return value;
}

std::optional<int> ParseIntInRange(std::string_view text, int low, int high)
{
    const auto value = ParseNumber<long long>(text);
    if (!value || *value < low || *value > high)
        return std::nullopt;
    return int(*value);
}

// Options that take a value; every other known option is a flag.
bool TakesValue(std::string_view name)
{
    return name != "help" && name != "version" && name != "log-requests";
}

} // namespace

std::optional<MacAddress> OffsetMac(const MacAddress& mac, std::uint64_t n)
{
    std::uint64_t value = 0;
    for (std::uint8_t b : mac)
        value = value << 8 | b;
    constexpr std::uint64_t kMax = (std::uint64_t(1) << 48) - 1;
    if (n > kMax - value)
        return std::nullopt;
    value += n;
    MacAddress out{};
    for (std::size_t i = kMacSize; i-- > 0;) {
        out[i] = std::uint8_t(value);
        value >>= 8;
    }
    return out;
}

const char* RecordKindName(RecordKind kind)
{
    switch (kind) {
    case RecordKind::General: return "general";
    case RecordKind::User: return "user";
    case RecordKind::Domain: return "domain";
    }
    return "?";
}

std::optional<RecordKind> ParseRecordKind(std::string_view text)
{
    for (RecordKind kind : {RecordKind::General, RecordKind::User, RecordKind::Domain}) {
        if (text == RecordKindName(kind))
            return kind;
    }
    return std::nullopt;
}

std::string FormatNetAddress(std::uint32_t addr)
{
    return AddressText(net::NetworkToWord(addr));
}

OptionsResult ParseSimOptions(const std::vector<std::string>& args)
{
    OptionsResult result;
    SimOptions& o = result.options;
    auto fail = [&result](std::string message) {
        result.error = std::move(message);
        return result;
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0)
            return fail("unexpected argument '" + arg + "'");
        std::string name = arg.substr(2);
        std::string value;
        bool has_value = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            has_value = true;
        }
        if (TakesValue(name) && !has_value) {
            if (i + 1 >= args.size())
                return fail("option --" + name + " needs a value");
            value = args[++i];
        } else if (!TakesValue(name) && has_value) {
            return fail("option --" + name + " takes no value");
        }

        if (name == "help") {
            result.help = true;
        } else if (name == "version") {
            result.version = true;
        } else if (name == "cameras") {
            const auto n = ParseIntInRange(value, 1, kMaxCameras);
            if (!n)
                return fail("--cameras wants a whole number from 1 to " + std::to_string(kMaxCameras) +
                            ", not '" + value + "'");
            o.cameras = *n;
        } else if (name == "first-mac") {
            const auto mac = ParseMac(value);
            if (!mac)
                return fail("--first-mac wants six hex pairs like 00:0A:0B:00:00:01, not '" + value + "'");
            o.first_mac = *mac;
        } else if (name == "bind") {
            const auto address = ParseStrictAddress(value);
            if (!address)
                return fail("--bind wants a dotted IPv4 address, not '" + value + "'");
            o.bind_address = net::WordToNetwork(*address);
        } else if (name == "port" || name == "reply-port") {
            const bool reply = name == "reply-port";
            const auto port = ParseIntInRange(value, reply ? 1 : 0, 65535);
            if (!port)
                return fail("--" + name + " wants a port number from " + (reply ? "1" : "0") +
                            " to 65535, not '" + value + "'");
            (reply ? o.reply_port : o.port) = std::uint16_t(*port);
        } else if (name == "loss" || name == "duplicate") {
            const auto p = ParseProbability(value);
            if (!p)
                return fail("--" + name + " wants a probability from 0 to 1, not '" + value + "'");
            (name == "loss" ? o.loss : o.duplicate) = *p;
        } else if (name == "delay-ms" || name == "jitter-ms") {
            const auto ms = ParseIntInRange(value, 0, kMaxDelayMs);
            if (!ms)
                return fail("--" + name + " wants milliseconds from 0 to " + std::to_string(kMaxDelayMs) +
                            ", not '" + value + "'");
            (name == "delay-ms" ? o.delay_ms : o.jitter_ms) = *ms;
        } else if (name == "no-reply" || name == "no-ack" || name == "forget") {
            const auto kind = ParseRecordKind(value);
            if (!kind)
                return fail("--" + name + " wants general, user or domain, not '" + value + "'");
            (name == "no-reply" ? o.no_reply : name == "no-ack" ? o.no_ack : o.forget)[int(*kind)] = true;
        } else if (name == "log-requests") {
            o.log_requests = true;
        } else if (name == "seed") {
            const auto seed = ParseNumber<std::uint64_t>(value);
            if (!seed)
                return fail("--seed wants a whole number, not '" + value + "'");
            o.seed = *seed;
        } else if (name == "state-file" || name == "log") {
            if (value.empty())
                return fail("--" + name + " wants a file path");
            (name == "log" ? o.log_file : o.state_file) = value;
        } else {
            return fail("unknown option --" + name);
        }
    }
    if (!OffsetMac(o.first_mac, std::uint64_t(o.cameras - 1)))
        return fail(std::to_string(o.cameras) + " cameras from " + MacColonText(o.first_mac) +
                    " would pass ff:ff:ff:ff:ff:ff");
    return result;
}

std::string SimUsage()
{
    return "usage: vantoro-camera-sim [options]\n"
           "Answers configuration frames for a number of virtual cameras on one UDP port.\n"
           "\n"
           "  --cameras N          cameras to serve (default 1)\n"
           "  --first-mac MAC      hardware address of the first camera, the others follow\n"
           "                       it (default 00:0A:0B:00:00:01)\n"
           "  --bind ADDR          local IPv4 address to listen on (default 0.0.0.0)\n"
           "  --port P             camera port to listen on (default 2056; 0 picks one)\n"
           "  --reply-port P       port at the sender's address that answers go to (default 2313)\n"
           "  --loss P             probability 0..1 that one answer is dropped\n"
           "  --duplicate P        probability 0..1 that one answer is sent twice\n"
           "  --delay-ms D         delay every answer by D ms\n"
           "  --jitter-ms J        add a random 0..J ms to every answer's delay\n"
           "  --no-reply KIND      never answer a request for KIND (general, user, domain);\n"
           "                       repeatable\n"
           "  --no-ack KIND        store but never acknowledge a KIND record; repeatable\n"
           "  --forget KIND        acknowledge a KIND record but keep the old one; repeatable\n"
           "  --seed S             seed for loss, duplicates and jitter\n"
           "  --state-file PATH    keep every camera's records in PATH: per camera its 6-byte\n"
           "                       mac, then its general, user and domain records of 1152 bytes\n"
           "  --log PATH           write the log to PATH instead of standard error\n"
           "  --log-requests       log each search request with the seconds since the start\n"
           "  --help               show this text\n"
           "  --version            show the version\n";
}

} // namespace vantoro::sim
