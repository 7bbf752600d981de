#pragma once
// The export file: a camera's three records byte-exact (base64), the decoded
// fields for people, and when and from where they were read.
//
//   {"format": "vantoro-export", "version": 1, "mac": "00:0a:0b:00:00:01",
//    "read_at": "2026-12-07T08:00:00Z", "read_from": "127.0.0.1",
//    "decoded": {...as show --format json...},
//    "records": {"general": "...", "user": "...", "domain": "..."}}

#include "ops/session.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace vantoro::ops {

inline constexpr const char* kExportFormat = "vantoro-export";
inline constexpr int kExportVersion = 1;

nlohmann::ordered_json MakeExport(const CameraSnapshot& camera, const std::string& read_from);

struct ImportedFile {
    std::optional<CameraSnapshot> records;
    std::string read_at;
    std::string read_from;
    std::string error; // why the file is not such an export
};
// Refuses anything that is not an export of all three records of one camera:
// each record decodes to exactly 1152 bytes, carries the file's mac and its
// reply code.
ImportedFile ReadExport(const std::string& path);
// The same from the file's bytes; path names it in messages.
ImportedFile ReadExportText(std::string_view text, const std::string& path);

} // namespace vantoro::ops
