// Reads any bytes as a --targets file, or as one --wan text, through the
// reader the program uses. A text is either refused with a message, adding
// nothing, or gives sorted, separate ranges that never reach 224.0.0.0/3; the
// ranges read, written back as a file and as a --wan list, read to themselves.
// Subnets taken from the input are then skipped, and only their ends go.
//
// Input: the first byte chooses file (even) or --wan text (odd); its next
// bits, how many subnets (of 8 bytes each, address then mask) the text is
// followed by.

#include "ops/sweep_targets.h"
#include "ops/text_forms.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "util/strict_address.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>

using namespace vantoro;
using namespace vantoro::ops;

namespace {

void CheckShape(const SweepTargets& t)
{
    for (std::size_t i = 0; i < t.ranges().size(); ++i) {
        const AddressRange& r = t.ranges()[i];
        FUZZ_CHECK(r.first <= r.last);
        FUZZ_CHECK(r.last < kFirstNonUnicast);
        if (i > 0)
            FUZZ_CHECK(std::uint64_t(t.ranges()[i - 1].last.word()) + 1 < r.first.word()); // separate: merged otherwise
    }
}

bool Inside(const std::vector<AddressRange>& ranges, Ipv4Address a)
{
    return std::any_of(ranges.begin(), ranges.end(), [&](const AddressRange& r) { return r.first <= a && a <= r.last; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput in(data, size);
    const std::uint8_t mode = in.Byte();
    const std::size_t subnet_count = (mode >> 1) & 3;
    std::vector<AttachedSubnet> subnets;
    for (std::size_t i = 0; i < subnet_count; ++i) {
        const std::uint32_t address = in.Le32();
        subnets.push_back({Ipv4Address(address), in.Le32()});
    }
    std::size_t length = 0;
    const std::uint8_t* bytes = in.Take(in.remaining(), &length);
    const std::string_view text(reinterpret_cast<const char*>(bytes), length);

    SweepTargets targets;
    const auto error = mode & 1 ? targets.AddList(text) : targets.AddFileText(text, "t.txt");
    if (error) {
        FUZZ_CHECK(!error->empty());
        FUZZ_CHECK(targets.empty()); // nothing of a refused text
        return 0;
    }
    CheckShape(targets);

    std::string lines, list;
    for (const AddressRange& r : targets.ranges()) {
        const std::string item =
            r.first == r.last ? r.first.text() : r.first.text() + "-" + r.last.text();
        lines += item + "\n";
        list += (list.empty() ? "" : ",") + item;
    }
    SweepTargets from_file, from_list;
    FUZZ_CHECK(!from_file.AddFileText(lines, "again.txt"));
    FUZZ_CHECK(from_file.ranges() == targets.ranges());
    if (!list.empty()) {
        FUZZ_CHECK(!from_list.AddList(list));
        FUZZ_CHECK(from_list.ranges() == targets.ranges());
    }

    // Skipping subnet ends takes exactly those ends out of the ranges longer
    // than one address, and nothing else.
    std::set<Ipv4Address> ends;
    for (const AttachedSubnet& s : subnets)
        if (s.mask != 0 && ~s.mask > 1)
            for (Ipv4Address a : {Ipv4Address(s.network()), Ipv4Address(s.broadcast())})
                if (std::any_of(targets.ranges().begin(), targets.ranges().end(),
                                [&](const AddressRange& r) { return r.first < r.last && r.first <= a && a <= r.last; }))
                    ends.insert(a);
    const std::uint64_t before = targets.count();
    const std::vector<AddressRange> original = targets.ranges();
    targets.SkipSubnetEnds(subnets);
    FUZZ_CHECK(targets.count() == before - ends.size());
    for (Ipv4Address a : ends)
        FUZZ_CHECK(!Inside(targets.ranges(), a));
    for (const AddressRange& r : targets.ranges())
        FUZZ_CHECK(Inside(original, r.first) && Inside(original, r.last));
    return 0;
}
