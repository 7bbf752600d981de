#pragma once
// The edits that set and apply make to a camera's records, checked before
// anything is sent and applied to copies with the sheet's record rules
// (link/records.h): first free row, delete by name without regard to case,
// the permission bits rule.

#include "util/result.h"
#include "link/network_fields.h"
#include "ops/session.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vantoro::ops {

struct GeneralEdits {
    // One per network field, as kNetworkFields: the new address word, or 1 or 0
    // for a switch turned on or off.
    std::array<std::optional<std::uint32_t>, kNetworkFieldCount> network;
    std::array<std::optional<std::string>, 4> camera_names; // slots 0 to 3
    std::optional<std::uint32_t>& operator[](NetworkFieldId id) { return network[std::size_t(id)]; }
    const std::optional<std::uint32_t>& operator[](NetworkFieldId id) const { return network[std::size_t(id)]; }
    bool empty() const;
};

struct Permissions {
    bool view_image = false;
    bool adjust = false;
};

struct NamedPassword {
    std::string name;
    std::string password;
};

struct RecordEdits {
    GeneralEdits general;
    std::vector<std::string> delete_users;
    std::vector<NamedPassword> add_users;
    std::vector<NamedPassword> passwords; // existing users, changed in place
    std::vector<std::pair<std::string, Permissions>> permissions;
    std::vector<std::string> delete_domains;
    std::vector<std::pair<std::string, std::string>> add_domains; // name, address text
    bool empty() const;
};

// "view,adjust", "adjust,view", "view", "adjust" or "none".
std::optional<Permissions> ParsePermissions(const std::string& text);
// A permission word as "view,adjust", "view", "adjust" or "none".
std::string PermissionText(std::uint32_t word);
// "on" or "off".
std::optional<bool> ParseSwitch(const std::string& text);

// A network field's value as show, the CSV and the change lines give it:
// dotted for an address, on or off for a switch.
std::string NetworkFieldText(const GeneralConfigReader& general, const NetworkField& field);

// The CSV column and change name of camera name slot 0 to 3: camera_name_1 to camera_name_4.
std::string CameraNameField(int slot);
// Refuses a text wider than the slot; the message names the field.
Error CheckCameraName(int slot, const std::string& text);

// Refuses texts that do not fit their fields and empty names; the message
// names the bad value.
Error CheckTextLengths(const RecordEdits& edits);

// Applies the edits in this order: users deleted, users added, passwords, permissions,
// domains deleted, domains added, general fields. The records must be
// present. An error text (a full table, a name that no row holds) leaves the
// records half edited: the caller sends nothing then.
Error ApplyEdits(const RecordEdits& edits, CameraSnapshot& records);
// The general fields alone, which cannot fail.
void ApplyGeneralEdits(const GeneralEdits& edits, Frame& general);

} // namespace vantoro::ops
