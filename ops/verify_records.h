#pragma once
// After a write, what the camera reports against what was sent to it. Only
// the bytes the tool wrote are compared: the fields and table rows that the
// edit changed, or for a restored backup every byte of the three records.
// The header's command and reply_mode are the camera's to set.

#include "link/camera_snapshot.h"
#include "ops/record_changes.h"

#include <string>
#include <vector>

namespace vantoro::ops {

struct Mismatch {
    std::string field; // "ethernet_ip", "user row 3", "password of viewer", "general record byte 900"
    std::string sent; // as the change lines give values; never a password
    std::string reported;
};

// The bytes the write's description (DescribeWrite) says were written, sent
// against reported.
std::vector<Mismatch> CompareWritten(const CameraSnapshot& sent, const CameraSnapshot& reported,
                                     const ComparedBytes& compared);
// before: the records as found; sent: as written. whole: compare every byte
// of the three records, not only those that differ between the two.
// reported must hold all three records.
std::vector<Mismatch> CompareWritten(const CameraSnapshot& before, const CameraSnapshot& sent,
                                     const CameraSnapshot& reported, bool whole);

// "ethernet_ip sent 10.0.0.7, camera reports 192.168.1.11; ..."
std::string MismatchText(const std::vector<Mismatch>& mismatches);

} // namespace vantoro::ops
