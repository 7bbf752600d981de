#include "ops/verify_records.h"

#include "link/network_fields.h"
#include "link/records.h"
#include "ops/record_edits.h"
#include "ops/text_forms.h"

#include <cstdio>
#include <functional>

namespace vantoro::ops {

namespace {

// A named span of one record, and how its value reads.
struct Span {
    std::size_t begin, end;
    std::function<void(const Frame& sent, const Frame& reported, std::vector<Mismatch>& out)> describe;
};

std::string Quoted(const std::string& text)
{
    return "'" + PrintableText(text) + "'";
}

std::string PermissionText(std::uint32_t word)
{
    const bool view = word & PERM_VIEW_IMAGE;
    const bool adjust = word & PERM_ADJUST;
    return view && adjust ? "view,adjust" : view ? "view" : adjust ? "adjust" : "none";
}

std::string UserRow(const UserConfigReader& users, int row)
{
    return users.RowEmpty(row) ? "(free)" : PrintableText(users.name(row)) + " " + PermissionText(users.permissions(row));
}

std::string DomainRow(const DomainConfigReader& domains, int row)
{
    return domains.RowEmpty(row) ? "(free)" : PrintableText(domains.name(row)) + " " + PrintableText(domains.ip_text(row));
}

std::vector<Span> GeneralSpans()
{
    std::vector<Span> spans;
    for (const NetworkField* field : kNetworkColumns) {
        // The PPP client address is kept twice; both words are the field.
        const std::size_t end = field->offset + (field->offset == general_layout::ppp_client_ip ? 8 : 4);
        spans.push_back({field->offset, end, [field](const Frame& s, const Frame& r, std::vector<Mismatch>& out) {
                             out.push_back({std::string(field->name), NetworkFieldText(GeneralConfigReader(s.data()), *field),
                                            NetworkFieldText(GeneralConfigReader(r.data()), *field)});
                         }});
    }
    for (int slot = 0; slot < general_layout::camera_names; ++slot) {
        const std::size_t begin = general_layout::camera_name + general_layout::camera_name_stride * std::size_t(slot);
        spans.push_back({begin, begin + general_layout::camera_name_width(slot),
                         [slot](const Frame& s, const Frame& r, std::vector<Mismatch>& out) {
                             out.push_back({CameraNameField(slot), Quoted(GeneralConfigReader(s.data()).camera_name(slot)),
                                            Quoted(GeneralConfigReader(r.data()).camera_name(slot))});
                         }});
    }
    return spans;
}

std::vector<Span> UserSpans()
{
    std::vector<Span> spans;
    for (int row = 0; row < user_layout::rows; ++row) {
        const std::size_t begin = user_layout::table + user_layout::row_size * std::size_t(row);
        spans.push_back({begin, begin + user_layout::row_size, [row](const Frame& s, const Frame& r, std::vector<Mismatch>& out) {
                             const UserConfigReader a(s.data()), b(r.data());
                             const std::string x = UserRow(a, row), y = UserRow(b, row);
                             // Passwords are never shown, only that they differ.
                             if (x == y)
                                 out.push_back({"password of " + PrintableText(a.name(row)), "***", "another"});
                             else
                                 out.push_back({"user row " + std::to_string(row), x, y});
                         }});
    }
    return spans;
}

std::vector<Span> DomainSpans()
{
    std::vector<Span> spans;
    for (int row = 0; row < domain_layout::rows; ++row) {
        const std::size_t begin = domain_layout::table + domain_layout::row_size * std::size_t(row);
        spans.push_back({begin, begin + domain_layout::row_size, [row](const Frame& s, const Frame& r, std::vector<Mismatch>& out) {
                             out.push_back({"domain row " + std::to_string(row), DomainRow(DomainConfigReader(s.data()), row),
                                            DomainRow(DomainConfigReader(r.data()), row)});
                         }});
    }
    return spans;
}

std::string Hex(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

bool Differ(const Frame& a, const Frame& b, std::size_t begin, std::size_t end)
{
    return !std::equal(a.begin() + long(begin), a.begin() + long(end), b.begin() + long(begin));
}

void CompareRecord(const char* name, const std::vector<Span>& spans, const Frame& before, const Frame& sent,
                   const Frame& reported, bool whole, std::vector<Mismatch>& out)
{
    std::vector<bool> named(kFrameSize, false);
    for (const Span& span : spans) {
        for (std::size_t i = span.begin; i < span.end; ++i)
            named[i] = true;
        // A field counts as written when the edit changed it.
        if ((whole || Differ(before, sent, span.begin, span.end)) && Differ(sent, reported, span.begin, span.end))
            span.describe(sent, reported, out);
    }
    // Bytes of no named field: the first that differs stands for the rest.
    for (std::size_t i = kMacOffset; i < kFrameSize; ++i) {
        if (named[i] || (!whole && before[i] == sent[i]) || sent[i] == reported[i])
            continue;
        out.push_back({std::string(name) + " record byte " + std::to_string(i), Hex(sent[i]), Hex(reported[i])});
        return;
    }
}

} // namespace

std::vector<Mismatch> CompareWritten(const CameraSnapshot& before, const CameraSnapshot& sent,
                                     const CameraSnapshot& reported, bool whole)
{
    std::vector<Mismatch> out;
    const struct {
        const char* name;
        const std::optional<Frame>& before;
        const std::optional<Frame>& sent;
        const std::optional<Frame>& reported;
        std::vector<Span> spans;
    } records[] = {
        {"general", before.general, sent.general, reported.general, GeneralSpans()},
        {"user", before.user, sent.user, reported.user, UserSpans()},
        {"domain", before.domain, sent.domain, reported.domain, DomainSpans()},
    };
    for (const auto& r : records) {
        if (!r.sent || !r.reported)
            continue;
        const Frame& was = r.before ? *r.before : *r.sent;
        CompareRecord(r.name, r.spans, was, *r.sent, *r.reported, whole, out);
    }
    return out;
}

std::string MismatchText(const std::vector<Mismatch>& mismatches)
{
    std::string text;
    for (const Mismatch& m : mismatches)
        text += (text.empty() ? "" : "; ") + m.field + " sent " + m.sent + ", camera reports " + m.reported;
    return text;
}

} // namespace vantoro::ops
