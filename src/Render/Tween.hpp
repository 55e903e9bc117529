#pragma once

namespace ombry {

// A scalar eased from `from` to `to` over `durationMs`, sampled against the media clock
// (appClock().monotonic()). Always the CSS "ease" curve. Replace it whole to retarget; never edit it
// while it runs.
struct Tween {
    float from = 0;
    float to = 0;
    double start = 0;  // media-clock seconds
    int durationMs = 0;

    // `to` for durations below 1 ms; `from` before the start, `to` at and after the end.
    float value(double now) const;

    bool operator==(const Tween&) const = default;

private:
    static double cssEase(double x);
};

}  // namespace ombry
