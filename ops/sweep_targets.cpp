#include "ops/sweep_targets.h"

#include "ops/input_file.h"
#include "ops/text_forms.h"
#include "util/strict_address.h"

#include <algorithm>
#include <charconv>

namespace vantoro::ops {

namespace {

std::string_view Trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Quoted(std::string_view text)
{
    return "'" + PrintableText(text) + "'";
}

std::string NeverSearched(std::string_view text)
{
    return Quoted(text) + " reaches into 224.0.0.0/3 (multicast, class E and the broadcast address "
                          "255.255.255.255), where a search is never sent";
}

} // namespace

Error SweepTargets::AddOne(std::string_view text)
{
    if (const auto slash = text.find('/'); slash != std::string_view::npos) {
        const auto base = ParseStrictAddress(text.substr(0, slash));
        const std::string_view bits_text = text.substr(slash + 1);
        unsigned bits = 99;
        const auto [end, error] = std::from_chars(bits_text.data(), bits_text.data() + bits_text.size(), bits);
        if (!base || error != std::errc() || end != bits_text.data() + bits_text.size() || bits_text.empty() ||
            (bits_text.size() > 1 && bits_text[0] == '0'))
            return Quoted(text) + " is no CIDR range like 10.20.0.0/22";
        if (bits > 32)
            return Quoted(text) + " has a prefix length over 32";
        const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t(0) << (32 - bits);
        std::uint32_t first = *base & mask, last = first | ~mask;
        // The subnet's own address and its broadcast address are no camera's.
        if (bits < 31) {
            ++first;
            --last;
        }
        const AddressRange r{Ipv4Address(first), Ipv4Address(last)};
        if (r.last >= kFirstNonUnicast)
            return NeverSearched(text);
        ranges_.push_back(r);
        return std::nullopt;
    }
    if (const auto dash = text.find('-'); dash != std::string_view::npos) {
        const auto first = Ipv4Address::Parse(text.substr(0, dash));
        const auto last = Ipv4Address::Parse(text.substr(dash + 1));
        if (!first || !last)
            return Quoted(text) + " is no dash range like 10.20.0.10-10.20.0.99";
        if (*first > *last)
            return Quoted(text) + " ends before it starts";
        if (*last >= kFirstNonUnicast)
            return NeverSearched(text);
        ranges_.push_back({*first, *last});
        return std::nullopt;
    }
    const auto address = Ipv4Address::Parse(text);
    if (!address)
        return Quoted(text) + " is no address like 10.20.0.5, CIDR range like 10.20.0.0/22 or dash range like "
                              "10.20.0.10-10.20.0.99";
    if (*address >= kFirstNonUnicast)
        return NeverSearched(text);
    ranges_.push_back({*address, *address});
    return std::nullopt;
}

Error SweepTargets::AddItems(std::string_view list, const std::string& where)
{
    for (std::string_view item : SplitCommas(list)) {
        if (auto error = AddOne(Trimmed(item)))
            return where + *error;
    }
    return std::nullopt;
}

Error SweepTargets::AddList(std::string_view list, const std::string& where)
{
    const std::size_t before = ranges_.size();
    auto error = AddItems(list, where);
    if (error)
        ranges_.resize(before); // a refused list adds nothing
    Merge();
    return error;
}

Error SweepTargets::AddFile(const std::string& path)
{
    const Result<std::string> in = ReadInputFile(path, "the targets file");
    if (!in)
        return in.error();
    return AddFileText(*in, path);
}

Error SweepTargets::AddFileText(std::string_view text, const std::string& path)
{
    const std::size_t before = ranges_.size();
    Error error;
    for (int number = 1; !text.empty() && !error; ++number) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.front() != '#')
            error = AddItems(line, path + ":" + std::to_string(number) + ": ");
    }
    if (error)
        ranges_.resize(before); // a refused file adds nothing
    // Once, after the whole file: merging after each line made a long file slow.
    Merge();
    return error;
}

void SweepTargets::Add(const SweepTargets& more)
{
    ranges_.insert(ranges_.end(), more.ranges_.begin(), more.ranges_.end());
    Merge();
}

void SweepTargets::SkipSubnetEnds(const std::vector<AttachedSubnet>& subnets)
{
    std::vector<Ipv4Address> skipped;
    for (const AttachedSubnet& s : subnets) {
        if (s.mask == 0 || ~s.mask <= 1)
            continue; // /31 and /32 have no network or broadcast address; /0 is no subnet
        skipped.emplace_back(s.network());
        skipped.emplace_back(s.broadcast());
    }
    std::sort(skipped.begin(), skipped.end());
    std::vector<AddressRange> kept;
    for (AddressRange r : ranges_) {
        if (r.first == r.last) {
            kept.push_back(r);
            continue;
        }
        const auto from = std::lower_bound(skipped.begin(), skipped.end(), r.first);
        const auto to = std::upper_bound(skipped.begin(), skipped.end(), r.last);
        for (auto a = from; a != to; ++a) {
            if (*a > r.first)
                kept.push_back({r.first, Ipv4Address(a->word() - 1)});
            if (*a == r.last)
                break;
            r.first = Ipv4Address(a->word() + 1);
        }
        if (from == to || *(to - 1) != r.last)
            kept.push_back(r);
    }
    ranges_ = std::move(kept);
}

void SweepTargets::Merge()
{
    std::sort(ranges_.begin(), ranges_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<AddressRange> merged;
    for (const AddressRange& r : ranges_) {
        if (!merged.empty() && std::uint64_t(r.first.word()) <= std::uint64_t(merged.back().last.word()) + 1)
            merged.back().last = std::max(merged.back().last, r.last);
        else
            merged.push_back(r);
    }
    ranges_ = std::move(merged);
}

std::uint64_t SweepTargets::count() const
{
    std::uint64_t n = 0;
    for (const AddressRange& r : ranges_)
        n += std::uint64_t(r.last.word()) - r.first.word() + 1;
    return n;
}

Ipv4Address SweepTargets::at(std::uint64_t index) const
{
    for (const AddressRange& r : ranges_) {
        const std::uint64_t size = std::uint64_t(r.last.word()) - r.first.word() + 1;
        if (index < size)
            return Ipv4Address(std::uint32_t(r.first.word() + index));
        index -= size;
    }
    return {};
}

} // namespace vantoro::ops
