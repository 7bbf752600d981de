#include "ops/verify_records.h"

#include "link/network_fields.h"
#include "link/records.h"
#include "ops/record_changes.h"
#include "ops/record_edits.h"
#include "ops/text_forms.h"

#include <cstdio>

namespace vantoro::ops {

namespace {

std::string Quoted(const std::string& text)
{
    return "'" + PrintableText(text) + "'";
}

std::string Hex(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", byte);
    return text;
}

// How a named span that differs reads: sent, then what the camera reports.
void DescribeGeneral(const RecordSpan& span, const Frame& s, const Frame& r, std::vector<Mismatch>& out)
{
    const GeneralConfigReader a(s.data()), b(r.data());
    if (span.network_column >= 0) {
        const NetworkField& field = *kNetworkColumns[std::size_t(span.network_column)];
        out.push_back({std::string(field.name), NetworkFieldText(a, field), NetworkFieldText(b, field)});
    } else {
        out.push_back({CameraNameField(span.camera_name), Quoted(a.camera_name(span.camera_name)),
                       Quoted(b.camera_name(span.camera_name))});
    }
}

void DescribeUser(const RecordSpan& span, const Frame& s, const Frame& r, std::vector<Mismatch>& out)
{
    const UserConfigReader a(s.data()), b(r.data());
    const std::string x = UserRowText(a, span.row), y = UserRowText(b, span.row);
    // Passwords are never shown, only that they differ.
    if (x == y)
        out.push_back({"password of " + PrintableText(a.name(span.row)), "***", "another"});
    else
        out.push_back({"user row " + std::to_string(span.row), x, y});
}

void DescribeDomain(const RecordSpan& span, const Frame& s, const Frame& r, std::vector<Mismatch>& out)
{
    out.push_back({"domain row " + std::to_string(span.row), DomainRowText(DomainConfigReader(s.data()), span.row),
                   DomainRowText(DomainConfigReader(r.data()), span.row)});
}

void CompareRecord(const char* name, const std::vector<RecordSpan>& spans,
                   void (*describe)(const RecordSpan&, const Frame&, const Frame&, std::vector<Mismatch>&),
                   const std::bitset<kFrameSize>& compared, const Frame& sent, const Frame& reported,
                   std::vector<Mismatch>& out)
{
    const auto differs = [&](std::size_t i) { return compared[i] && sent[i] != reported[i]; };
    std::bitset<kFrameSize> named;
    for (const RecordSpan& span : spans) {
        bool differ = false;
        for (std::size_t i = span.begin; i < span.end; ++i) {
            named.set(i);
            differ = differ || differs(i);
        }
        if (differ)
            describe(span, sent, reported, out);
    }
    // Bytes of no named field: the first that differs stands for the rest.
    for (std::size_t i = kMacOffset; i < kFrameSize; ++i) {
        if (named[i] || !differs(i))
            continue;
        out.push_back({std::string(name) + " record byte " + std::to_string(i), Hex(sent[i]), Hex(reported[i])});
        return;
    }
}

} // namespace

std::vector<Mismatch> CompareWritten(const CameraSnapshot& sent, const CameraSnapshot& reported,
                                     const ComparedBytes& compared)
{
    std::vector<Mismatch> out;
    if (sent.general && reported.general)
        CompareRecord("general", GeneralSpans(), DescribeGeneral, compared.general, *sent.general, *reported.general, out);
    if (sent.user && reported.user)
        CompareRecord("user", UserSpans(), DescribeUser, compared.user, *sent.user, *reported.user, out);
    if (sent.domain && reported.domain)
        CompareRecord("domain", DomainSpans(), DescribeDomain, compared.domain, *sent.domain, *reported.domain, out);
    return out;
}

std::vector<Mismatch> CompareWritten(const CameraSnapshot& before, const CameraSnapshot& sent,
                                     const CameraSnapshot& reported, bool whole)
{
    return CompareWritten(sent, reported, DescribeWrite(before, sent, whole).compared);
}

std::string MismatchText(const std::vector<Mismatch>& mismatches)
{
    std::string text;
    for (const Mismatch& m : mismatches)
        text += (text.empty() ? "" : "; ") + m.field + " sent " + m.sent + ", camera reports " + m.reported;
    return text;
}

} // namespace vantoro::ops
