// Reads any bytes as an export file through the reader import uses. A file is
// either refused with a message or gives all three records; an export read is
// written again by the exporter's own code and reads back to the same records,
// time and origin.

#include "ops/camera_json.h"
#include "ops/export_file.h"
#include "fuzz/fuzz_check.h"

#include <cstdint>
#include <string>

using namespace vantoro;
using namespace vantoro::ops;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const ImportedFile file = ReadExportText(text, "cam.json");
    FUZZ_CHECK(file.records.has_value() == file.error.empty());
    if (!file.records) {
        FUZZ_CHECK(file.error.rfind("cam.json is not a vantoro export: ", 0) == 0);
        return 0;
    }
    const CameraSnapshot& camera = *file.records;
    FUZZ_CHECK(camera.complete());

    nlohmann::ordered_json exported = MakeExport(camera, file.read_from);
    exported["read_at"] = file.read_at;
    const ImportedFile again = ReadExportText(DumpJson(exported), "again.json");
    FUZZ_CHECK(again.error.empty() && again.records);
    FUZZ_CHECK(again.records->mac == camera.mac);
    FUZZ_CHECK(again.records->general == camera.general);
    FUZZ_CHECK(again.records->user == camera.user);
    FUZZ_CHECK(again.records->domain == camera.domain);
    FUZZ_CHECK(again.read_at == file.read_at);
    FUZZ_CHECK(again.read_from == file.read_from);
    return 0;
}
