#include "ops/export_file.h"

#include "ops/base64.h"
#include "ops/camera_json.h"
#include "ops/input_file.h"
#include "ops/text_forms.h"
#include "util/mac_text.h"

#include <ctime>

namespace vantoro::ops {

using json = nlohmann::ordered_json;

namespace {

std::string UtcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

struct Kind {
    const char* name;
    std::uint32_t reply;
    std::optional<Frame> CameraSnapshot::*slot;
};
constexpr Kind kKinds[] = {{"general", CMD_GENERAL_REPLY, &CameraSnapshot::general},
                           {"user", CMD_USER_REPLY, &CameraSnapshot::user},
                           {"domain", CMD_DOMAIN_REPLY, &CameraSnapshot::domain}};

} // namespace

json MakeExport(const CameraSnapshot& camera, const std::string& read_from)
{
    json records;
    for (const Kind& k : kKinds) {
        const Frame& f = *(camera.*k.slot);
        records[k.name] = Base64Encode(f.data(), f.size());
    }
    return {{"format", kExportFormat},
            {"version", kExportVersion},
            {"mac", MacColonText(camera.mac)},
            {"read_at", UtcNow()},
            {"read_from", read_from},
            {"decoded", CameraDetailJson(camera, false)},
            {"records", records}};
}

ImportedFile ReadExport(const std::string& path)
{
    const Result<std::string> in = ReadInputFile(path, "the export");
    if (!in) {
        ImportedFile out;
        out.error = in.error();
        return out;
    }
    return ReadExportText(*in, path);
}

ImportedFile ReadExportText(std::string_view text, const std::string& path)
{
    ImportedFile out;
    const json j = json::parse(text, nullptr, false);
    const auto fail = [&](const std::string& why) {
        out.error = path + " is not a vantoro export: " + why;
        return out;
    };
    if (j.is_discarded() || !j.is_object())
        return fail("it is not a JSON object");
    // Each field is looked up by type, never converted: a number where a text
    // belongs is refused by name.
    const auto field = [&](const json& object, const char* name) {
        const auto it = object.find(name);
        return it == object.end() ? json() : *it;
    };
    if (field(j, "format") != kExportFormat)
        return fail("its \"format\" is not \"" + std::string(kExportFormat) + "\"");
    if (field(j, "version") != kExportVersion)
        return fail("its \"version\" is not " + std::to_string(kExportVersion));
    const json mac_text = field(j, "mac");
    const auto mac = mac_text.is_string() ? ParseMac(mac_text.get_ref<const std::string&>()) : std::nullopt;
    if (!mac)
        return fail("its \"mac\" is no hardware address");
    const json records = field(j, "records");
    if (!records.is_object())
        return fail("it has no \"records\"");
    CameraSnapshot camera;
    camera.mac = *mac;
    for (const Kind& k : kKinds) {
        const json text_field = field(records, k.name);
        const auto bytes =
            text_field.is_string() ? Base64Decode(text_field.get_ref<const std::string&>()) : std::nullopt;
        if (!bytes || bytes->size() != kFrameSize)
            return fail(std::string("its ") + k.name + " record is not " + std::to_string(kFrameSize) +
                        " bytes of base64");
        Frame f;
        std::copy(bytes->begin(), bytes->end(), f.begin());
        if (FrameMac(f) != *mac)
            return fail(std::string("its ") + k.name + " record belongs to " + MacColonText(FrameMac(f)));
        if (FrameCommand(f) != k.reply)
            return fail(std::string("its ") + k.name + " record is not a " + k.name + " record");
        camera.*k.slot = f;
    }
    for (const auto& [name, slot] : {std::pair{"read_at", &out.read_at}, std::pair{"read_from", &out.read_from}}) {
        if (!j.contains(name))
            continue;
        const json& value = j.at(name);
        if (!value.is_string())
            return fail(std::string("its \"") + name + "\" is not a text");
        *slot = value.get<std::string>();
    }
    out.records = camera;
    return out;
}

} // namespace vantoro::ops
