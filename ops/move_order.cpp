#include "ops/move_order.h"

#include "util/strict_address.h"

#include <algorithm>
#include <functional>
#include <map>

namespace vantoro::ops {

namespace {

// The rings of the graph where move k waits for each move in waits[k]: its
// strongly connected parts of more than one move, each sorted, in the order
// of their first move.
std::vector<std::vector<std::size_t>> Rings(const std::vector<std::vector<std::size_t>>& waits)
{
    const std::size_t n = waits.size();
    std::vector<int> index(n, -1), low(n, 0);
    std::vector<bool> on_stack(n, false);
    std::vector<std::size_t> stack;
    std::vector<std::vector<std::size_t>> rings;
    int next = 0;
    const std::function<void(std::size_t)> visit = [&](std::size_t v) {
        index[v] = low[v] = next++;
        stack.push_back(v);
        on_stack[v] = true;
        for (std::size_t w : waits[v]) {
            if (index[w] < 0) {
                visit(w);
                low[v] = std::min(low[v], low[w]);
            } else if (on_stack[w]) {
                low[v] = std::min(low[v], index[w]);
            }
        }
        if (low[v] != index[v])
            return;
        std::vector<std::size_t> part;
        std::size_t w;
        do {
            w = stack.back();
            stack.pop_back();
            on_stack[w] = false;
            part.push_back(w);
        } while (w != v);
        if (part.size() > 1) {
            std::sort(part.begin(), part.end());
            rings.push_back(std::move(part));
        }
    };
    for (std::size_t v = 0; v < n; ++v)
        if (index[v] < 0)
            visit(v);
    std::sort(rings.begin(), rings.end());
    return rings;
}

// Whether every step can run once the steps it waits for have.
bool Ordered(const std::vector<MoveStep>& steps)
{
    std::vector<bool> done(steps.size(), false);
    for (bool progress = true; progress;) {
        progress = false;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (done[i] || !std::all_of(steps[i].after.begin(), steps[i].after.end(),
                                        [&](const MoveWait& w) { return done[w.step]; }))
                continue;
            done[i] = progress = true;
        }
    }
    return std::all_of(done.begin(), done.end(), [](bool d) { return d; });
}

} // namespace

bool MoveOrder::dependent() const
{
    return std::any_of(steps.begin(), steps.end(), [](const MoveStep& s) { return !s.after.empty(); });
}

MoveOrder OrderMoves(std::size_t rows, const std::vector<RowMove>& moves, const std::vector<std::string>& macs,
                     std::optional<Ipv4Address> spare)
{
    MoveOrder order;
    for (std::size_t r = 0; r < rows; ++r)
        order.steps.push_back({r, std::nullopt, {}});
    // Move k waits for every other move that leaves the address k takes.
    std::multimap<Ipv4Address, std::size_t> leaving;
    for (std::size_t k = 0; k < moves.size(); ++k)
        leaving.emplace(moves[k].from, k);
    std::vector<std::vector<std::size_t>> waits(moves.size());
    for (std::size_t k = 0; k < moves.size(); ++k) {
        const auto [first, last] = leaving.equal_range(moves[k].to);
        for (auto it = first; it != last; ++it)
            if (it->second != k)
                waits[k].push_back(it->second);
    }
    const auto rings = Rings(waits);
    if (!rings.empty() && !spare) {
        std::string text;
        for (std::size_t k : rings.front())
            text += (text.empty() ? "" : ", ") + macs[moves[k].row] + " " + moves[k].from.text() + " -> " +
                    moves[k].to.text();
        order.error = "cameras of this plan take each other's addresses in a ring (" + text +
                      "): none can move first without two cameras on one address; name a free address to pass "
                      "through with --spare ADDRESS";
        return order;
    }
    // Each ring is untied at its first camera: it moves to the spare first,
    // and those waiting for it to leave wait for that step instead.
    std::vector<std::optional<std::size_t>> via_spare(moves.size()); // the spare step of a move
    std::optional<std::size_t> previous; // the move that last passed through the spare
    for (const auto& ring : rings) {
        const std::size_t c = ring.front();
        MoveStep step{moves[c].row, spare, {}};
        if (previous) // the spare is free again once that camera has left it
            step.after.push_back({moves[*previous].row, *spare});
        via_spare[c] = order.steps.size();
        order.steps.push_back(step);
        previous = c;
    }
    for (std::size_t k = 0; k < moves.size(); ++k) {
        MoveStep& step = order.steps[moves[k].row];
        if (via_spare[k])
            step.after.push_back({*via_spare[k], *spare});
        for (std::size_t j : waits[k])
            step.after.push_back({via_spare[j] ? *via_spare[j] : moves[j].row, moves[j].from});
    }
    if (!Ordered(order.steps)) {
        std::string text;
        for (std::size_t k : rings.front())
            text += (text.empty() ? "" : ", ") + macs[moves[k].row];
        order.steps.resize(rows);
        order.error = "the cameras " + text +
                      " of this plan wait on each other's addresses in more than one ring; one spare address does "
                      "not untie them";
    }
    return order;
}

} // namespace vantoro::ops
