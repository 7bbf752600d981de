#pragma once
// What a write changes in a camera's records, described once: each change
// with its field, before and after, and the bytes that verification compares
// afterwards. The console lines, the JSON of the write commands, apply's
// report, the journal of changes and verification all take it from here.
// Users and domains are named, never numbered by row; a password is only
// ever said to have changed.

#include "link/camera_snapshot.h"
#include "link/records.h"

#include <nlohmann/json.hpp>

#include <bitset>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vantoro::ops {

enum class ChangeKind {
    Network,       // "ethernet_ip": dotted quads, switches on or off
    CameraName,    // "camera_name_1": the texts
    UserAdded,     // "user NAME": after "added"
    UserDeleted,   // "user NAME": after "deleted"
    Permissions,   // "permissions of NAME": before none for a user added
    Password,      // "password of NAME": no values
    DomainAdded,   // "domain NAME": after "added"
    DomainDeleted, // "domain NAME": after "deleted"
    DomainAddress, // "address of NAME": before none for a domain added
    RecordWritten, // "general record": after "written", bytes outside every named field
};

struct Change {
    std::string field;
    std::optional<std::string> before; // none: JSON null
    std::optional<std::string> after;
    ChangeKind kind = ChangeKind::Network;
    bool operator==(const Change&) const = default;

    // The console line: "ethernet_ip: 192.168.1.10 -> 10.0.0.7",
    // "camera_name_1: 'Gate' -> 'Yard'", "user bob: added", "password of bob: changed".
    std::string Line() const;
    // apply's result line: "ethernet_ip 192.168.1.10 -> 10.0.0.7".
    std::string Brief() const;
    // {"field", "before", "after"}, nulls for no value: the journal's and the JSON output's form.
    nlohmann::ordered_json Json() const;
};

// The bytes of each record that verification compares with what the camera
// reports after a write.
struct ComparedBytes {
    std::bitset<kFrameSize> general, user, domain;
    bool any() const { return general.any() || user.any() || domain.any(); }
};

struct RecordChanges {
    std::vector<Change> changes;
    ComparedBytes compared;
};

// From the records as found (before) to the records to be written (after).
// A record that after lacks, or holds as before, is not written. every_byte:
// a restore, which writes and so compares every byte of the three records
// (the header's command and reply mode are the camera's to set); otherwise
// only the named fields and rows that change, and the other bytes that do.
RecordChanges DescribeWrite(const CameraSnapshot& before, const CameraSnapshot& after, bool every_byte = false);

// Whether writing after over before would change nothing: each of after's
// records equals before's byte for byte, the header's command and reply mode aside.
bool WritesNothing(const CameraSnapshot& before, const CameraSnapshot& after);

// The named parts of a record, as verification names a difference.
struct RecordSpan {
    std::size_t begin = 0, end = 0;
    int network_column = -1; // index into kNetworkColumns
    int camera_name = -1; // slot 0 to 3
    int row = -1; // user or domain row
};
std::vector<RecordSpan> GeneralSpans();
std::vector<RecordSpan> UserSpans();
std::vector<RecordSpan> DomainSpans();

// A row as verification shows it: "viewer view", "ntp 10.0.0.5", "(free)".
std::string UserRowText(const UserConfigReader& users, int row);
std::string DomainRowText(const DomainConfigReader& domains, int row);

} // namespace vantoro::ops
