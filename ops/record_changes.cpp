#include "ops/record_changes.h"

#include "link/network_fields.h"
#include "ops/record_edits.h"
#include "ops/text_forms.h"

#include <algorithm>

namespace vantoro::ops {

namespace {

std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

bool Differ(const Frame& a, const Frame& b, std::size_t begin, std::size_t end)
{
    return !std::equal(a.begin() + long(begin), a.begin() + long(end), b.begin() + long(begin));
}

void GeneralChanges(const Frame& before, const Frame& after, std::vector<Change>& out)
{
    const GeneralConfigReader b(before.data());
    const GeneralConfigReader a(after.data());
    // The raw words: a camera's 2 reads as on, and a change from 2 to 1 is still one.
    for (const NetworkField* field : kNetworkColumns)
        if (b.network_word(field->offset) != a.network_word(field->offset))
            out.push_back({std::string(field->name), NetworkFieldText(b, *field), NetworkFieldText(a, *field)});
    // The names' bytes first: a batch of address changes leaves them all alike.
    if (!Differ(before, after, general_layout::camera_name, general_layout::firmware_version))
        return;
    for (int slot = 0; slot < general_layout::camera_names; ++slot)
        if (b.camera_name(slot) != a.camera_name(slot))
            out.push_back({CameraNameField(slot), PrintableText(b.camera_name(slot)), PrintableText(a.camera_name(slot)),
                           ChangeKind::CameraName});
}

void UserChanges(const Frame& before, const Frame& after, std::vector<Change>& out)
{
    const UserConfigReader b(before.data());
    const UserConfigReader a(after.data());
    for (int r = 0; r < UserConfigReader::kRows; ++r) {
        const bool had = !b.RowEmpty(r);
        const bool has = !a.RowEmpty(r);
        const std::string new_name = has ? PrintableText(a.name(r)) : std::string();
        if (had && has && b.name(r) == a.name(r)) {
            if (b.permissions(r) != a.permissions(r))
                out.push_back({"permissions of " + new_name, PermissionText(b.permissions(r)),
                               PermissionText(a.permissions(r)), ChangeKind::Permissions});
            // Only that it changed: no password, old or new, is ever shown.
            if (b.password(r) != a.password(r))
                out.push_back({"password of " + new_name, std::nullopt, std::nullopt, ChangeKind::Password});
            continue;
        }
        if (had)
            out.push_back({"user " + PrintableText(b.name(r)), std::nullopt, "deleted", ChangeKind::UserDeleted});
        if (has) {
            out.push_back({"user " + new_name, std::nullopt, "added", ChangeKind::UserAdded});
            out.push_back({"permissions of " + new_name, std::nullopt, PermissionText(a.permissions(r)),
                           ChangeKind::Permissions});
        }
    }
}

void DomainChanges(const Frame& before, const Frame& after, std::vector<Change>& out)
{
    const DomainConfigReader b(before.data());
    const DomainConfigReader a(after.data());
    for (int r = 0; r < DomainConfigReader::kRows; ++r) {
        const bool had = !b.RowEmpty(r);
        const bool has = !a.RowEmpty(r);
        const std::string new_name = has ? PrintableText(a.name(r)) : std::string();
        if (had && has && b.name(r) == a.name(r)) {
            if (b.ip_text(r) != a.ip_text(r))
                out.push_back({"address of " + new_name, PrintableText(b.ip_text(r)), PrintableText(a.ip_text(r)),
                               ChangeKind::DomainAddress});
            continue;
        }
        if (had)
            out.push_back({"domain " + PrintableText(b.name(r)), std::nullopt, "deleted", ChangeKind::DomainDeleted});
        if (has) {
            out.push_back({"domain " + new_name, std::nullopt, "added", ChangeKind::DomainAdded});
            out.push_back({"address of " + new_name, std::nullopt, PrintableText(a.ip_text(r)),
                           ChangeKind::DomainAddress});
        }
    }
}

// The bytes of one record that verification compares: every one from the MAC
// on for a restore; otherwise each named span that changes, whole, and the
// other bytes that change.
std::bitset<kFrameSize> Compared(const std::vector<RecordSpan>& spans, const Frame& before, const Frame& after,
                                 bool every_byte)
{
    std::bitset<kFrameSize> bytes;
    if (every_byte) {
        for (std::size_t i = kMacOffset; i < kFrameSize; ++i)
            bytes.set(i);
        return bytes;
    }
    std::bitset<kFrameSize> named;
    for (const RecordSpan& span : spans) {
        const bool changed = Differ(before, after, span.begin, span.end);
        for (std::size_t i = span.begin; i < span.end; ++i) {
            named.set(i);
            if (changed)
                bytes.set(i);
        }
    }
    for (std::size_t i = kMacOffset; i < kFrameSize; ++i)
        if (!named[i] && before[i] != after[i])
            bytes.set(i);
    return bytes;
}

bool SameRecord(const Frame& a, const Frame& b)
{
    return !Differ(a, b, kMacOffset, kFrameSize);
}

} // namespace

std::string Change::Brief() const
{
    const auto shown = [&](const std::string& value) { return kind == ChangeKind::CameraName ? Quoted(value) : value; };
    if (before && after)
        return field + " " + shown(*before) + " -> " + shown(*after);
    if (after)
        return field + " " + shown(*after);
    if (before)
        return field + " " + shown(*before) + " -> none";
    return field + " changed";
}

std::string Change::Line() const
{
    const std::string brief = Brief();
    return field + ":" + brief.substr(field.size());
}

nlohmann::ordered_json Change::Json() const
{
    const auto value = [](const std::optional<std::string>& text) {
        return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
    };
    return {{"field", field}, {"before", value(before)}, {"after", value(after)}};
}

std::vector<RecordSpan> GeneralSpans()
{
    std::vector<RecordSpan> spans;
    for (std::size_t c = 0; c < kNetworkColumns.size(); ++c) {
        const std::size_t offset = kNetworkColumns[c]->offset;
        // The PPP client address is kept twice; both words are the field.
        const std::size_t end = offset + (offset == general_layout::ppp_client_ip ? 8 : 4);
        spans.push_back({offset, end, int(c)});
    }
    for (int slot = 0; slot < general_layout::camera_names; ++slot) {
        const std::size_t begin = general_layout::camera_name + general_layout::camera_name_stride * std::size_t(slot);
        spans.push_back({begin, begin + general_layout::camera_name_width(slot), -1, slot});
    }
    return spans;
}

std::vector<RecordSpan> UserSpans()
{
    std::vector<RecordSpan> spans;
    for (int row = 0; row < user_layout::rows; ++row) {
        const std::size_t begin = user_layout::table + user_layout::row_size * std::size_t(row);
        spans.push_back({begin, begin + user_layout::row_size, -1, -1, row});
    }
    return spans;
}

std::vector<RecordSpan> DomainSpans()
{
    std::vector<RecordSpan> spans;
    for (int row = 0; row < domain_layout::rows; ++row) {
        const std::size_t begin = domain_layout::table + domain_layout::row_size * std::size_t(row);
        spans.push_back({begin, begin + domain_layout::row_size, -1, -1, row});
    }
    return spans;
}

std::string UserRowText(const UserConfigReader& users, int row)
{
    return users.RowEmpty(row) ? "(free)" : PrintableText(users.name(row)) + " " + PermissionText(users.permissions(row));
}

std::string DomainRowText(const DomainConfigReader& domains, int row)
{
    return domains.RowEmpty(row) ? "(free)" : PrintableText(domains.name(row)) + " " + PrintableText(domains.ip_text(row));
}

RecordChanges DescribeWrite(const CameraSnapshot& before, const CameraSnapshot& after, bool every_byte)
{
    RecordChanges out;
    const struct {
        const char* kind;
        const std::optional<Frame> CameraSnapshot::*slot;
        void (*describe)(const Frame&, const Frame&, std::vector<Change>&);
        std::vector<RecordSpan> (*spans)();
        std::bitset<kFrameSize> ComparedBytes::*compared;
    } records[] = {{"general", &CameraSnapshot::general, GeneralChanges, GeneralSpans, &ComparedBytes::general},
                   {"user", &CameraSnapshot::user, UserChanges, UserSpans, &ComparedBytes::user},
                   {"domain", &CameraSnapshot::domain, DomainChanges, DomainSpans, &ComparedBytes::domain}};
    for (const auto& r : records) {
        const auto& b = before.*r.slot;
        const auto& a = after.*r.slot;
        if (!a)
            continue;
        const Frame& was = b ? *b : *a;
        if (every_byte || !b)
            out.compared.*r.compared = Compared({}, was, *a, true);
        if (b && *b == *a)
            continue;
        if (!every_byte && b)
            out.compared.*r.compared = Compared(r.spans(), *b, *a, false);
        const std::size_t described = out.changes.size();
        if (b)
            r.describe(*b, *a, out.changes);
        // A record written whose change has no name here (a restore of bytes
        // outside every field, or a record the camera never sent) still shows.
        if (out.changes.size() == described && (!b || !SameRecord(*b, *a)))
            out.changes.push_back({std::string(r.kind) + " record", std::nullopt, "written", ChangeKind::RecordWritten});
    }
    return out;
}

bool WritesNothing(const CameraSnapshot& before, const CameraSnapshot& after)
{
    for (const auto slot : {&CameraSnapshot::general, &CameraSnapshot::user, &CameraSnapshot::domain}) {
        const auto& b = before.*slot;
        const auto& a = after.*slot;
        if (a && (!b || !SameRecord(*b, *a)))
            return false;
    }
    return true;
}

} // namespace vantoro::ops
