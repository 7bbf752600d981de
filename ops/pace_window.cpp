#include "ops/pace_window.h"

#include <algorithm>
#include <cmath>

namespace vantoro::ops {

namespace {

double Depth(int max_rate)
{
    return std::max(double(PaceWindow::kFramesPerCamera),
                    double(max_rate) * std::chrono::duration<double>(PaceWindow::kBurst).count());
}

} // namespace

PaceWindow::PaceWindow(int fixed, int max_rate, Now now)
    : fixed_(std::max(0, fixed)), max_rate_(std::max(1, max_rate)), now_(now), credit_(Depth(max_rate_)),
      refilled_(now_())
{
}

int PaceWindow::Window(std::size_t left)
{
    const std::size_t w = fixed_ > 0 ? std::size_t(fixed_) : std::size_t(window_);
    in_use_ = int(std::min(w, left));
    peak_ = std::max(peak_, in_use_);
    return in_use_;
}

void PaceWindow::Refill()
{
    const Clock::time_point now = now_();
    const double seconds = std::chrono::duration<double>(now - refilled_).count();
    refilled_ = now;
    if (seconds > 0)
        credit_ = std::min(Depth(max_rate_), credit_ + seconds * max_rate_);
}

PaceWindow::Clock::time_point PaceWindow::NextStart()
{
    Refill();
    // A hair under: the refill's sum of fractions must not hold a camera back for ever.
    constexpr double kRounding = 1e-6;
    if (credit_ >= kFramesPerCamera - kRounding)
        return refilled_;
    window_full_ = false; // the rate holds starts back, not the window
    const double seconds = (kFramesPerCamera - credit_) / max_rate_;
    return refilled_ + std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(seconds));
}

void PaceWindow::Started()
{
    Refill();
    credit_ -= kFramesPerCamera;
}

void PaceWindow::Acknowledged(std::chrono::microseconds took)
{
    const double t = double(took.count());
    const bool usual = samples_ == 0 || t <= UsualLimit();
    // As a TCP sender smooths its round trips (RFC 6298's gains).
    if (samples_++ == 0) {
        smoothed_ = t;
        deviation_ = t / 2;
    } else {
        deviation_ = 0.75 * deviation_ + 0.25 * std::abs(smoothed_ - t);
        smoothed_ = 0.875 * smoothed_ + 0.125 * t;
    }
    least_smoothed_ = samples_ == 1 ? smoothed_ : std::min(least_smoothed_, smoothed_);
    if (fixed_ > 0 || !usual || !window_full_)
        return;
    const double fed = double(max_rate_) / kFramesPerCamera * 3 * least_smoothed_ / 1e6;
    const double most = std::min(double(kMost), std::max(double(kStart), fed));
    if (window_ < most)
        window_ = std::min(most, window_ + (resent_yet_ ? 1.0 / window_ : 1.0));
}

double PaceWindow::UsualLimit() const
{
    return smoothed_ + std::max(4 * deviation_, smoothed_ / 2);
}

std::optional<PaceWindow::Clock::duration> PaceWindow::Stalled() const
{
    if (fixed_ > 0 || samples_ == 0)
        return std::nullopt;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::micro>(3 * UsualLimit()));
}

void PaceWindow::TimedOut(Clock::time_point sent, bool resent)
{
    if (resent) {
        ++resends_;
        Refill();
        credit_ -= 1;
    }
    resent_yet_ = true;
    if (fixed_ > 0 || (halved_ && sent < last_halved_))
        return;
    window_ = std::max(double(kStart), std::floor(window_ / 2));
    halved_ = true;
    last_halved_ = now_();
}

} // namespace vantoro::ops
