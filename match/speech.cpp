// The speech detector. Music beds, hums and crowds hold steady over a
// second or so, or change a few notes at a time; speech comes and goes
// across all its bands several times a second. So besides the loudness of
// the speech band against the quiet of the last and next seconds, each band
// is set against its own steady level of the moment (the larger of its
// least values over the half second before and the half second after) and
// what rises above it is added up over the bands.
#include "speech.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace chronelle {

namespace {

constexpr int SteadyFrames = 40;     // half a second each way
constexpr int FloorFrames = 1500;    // 15 s each way, for the quiet
constexpr double SilentDb = -75;     // the loudest 1 % below this: silence
constexpr int OnsetSigma = 3;        // frames: how much an onset is blurred
// Subtitlers show a line 0 to 100 ms before it is said.
constexpr double SpeechLeadMs = 50;

double levelDb(std::uint8_t q) { return LevelFloorDb + q / 2.0; }

// The least of a[i-w .. i] (ahead false) or a[i .. i+w] (ahead true), for
// every i, with a deque of the candidates.
std::vector<float> runningMin(const std::vector<float>& a, int w, bool ahead)
{
    std::size_t n = a.size();
    std::vector<float> out(n);
    std::deque<std::size_t> q;
    for (std::size_t k = 0; k < n; ++k) {
        std::size_t i = ahead ? n - 1 - k : k;
        while (!q.empty() && a[q.back()] >= a[i])
            q.pop_back();
        q.push_back(i);
        std::size_t front = q.front();
        if ((ahead ? front - i : i - front) > std::size_t(w)) {
            q.pop_front();
        }
        out[i] = a[q.front()];
    }
    return out;
}

// The value below which `fraction` of the values lie.
float quantile(std::vector<float> a, double fraction)
{
    if (a.empty())
        return 0;
    std::size_t k = std::size_t(fraction * double(a.size() - 1));
    std::nth_element(a.begin(), a.begin() + std::ptrdiff_t(k), a.end());
    return a[k];
}

// Average over 2 * half + 1 frames.
std::vector<float> smooth(const std::vector<float>& a, int half)
{
    std::size_t n = a.size();
    std::vector<double> sums(n + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        sums[i + 1] = sums[i] + a[i];
    std::vector<float> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t from = i >= std::size_t(half) ? i - half : 0;
        std::size_t to = std::min(n, i + half + 1);
        out[i] = float((sums[to] - sums[from]) / double(to - from));
    }
    return out;
}

// The loudness of the speech band, in decibels.
std::vector<float> loudness(const std::vector<std::uint8_t>& bands)
{
    double power[256];
    for (int q = 0; q < 256; ++q)
        power[q] = std::pow(10.0, levelDb(std::uint8_t(q)) / 10);
    std::vector<float> out(bands.size() / Bands);
    for (std::size_t f = 0; f < out.size(); ++f) {
        double p = 0;
        for (int b = 0; b < Bands; ++b)
            p += power[bands[f * Bands + b]];
        out[f] = float(10 * std::log10(p));
    }
    return out;
}

// The quiet around each frame: the level that a tenth of the frames of the
// 30 s around it stay under, worked out every second.
std::vector<float> quiet(const std::vector<float>& db)
{
    std::size_t n = db.size();
    std::vector<float> out(n);
    std::vector<float> around;
    float q = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i % 100 == 0) {
            std::size_t from = i >= FloorFrames ? i - FloorFrames : 0;
            std::size_t to = std::min(n, i + FloorFrames);
            around.clear();
            for (std::size_t k = from; k < to; k += 10)
                around.push_back(db[k]);
            q = quantile(around, 0.1);
        }
        out[i] = q;
    }
    return out;
}

// Where a signal rises: the positive part of the slope of the signal blurred
// by a bell of 30 ms. The slope of a step so blurred peaks on the step
// itself, which is what a subtitle's start is set against.
std::vector<float> onsetsOf(const std::vector<float>& a)
{
    constexpr int Radius = 3 * OnsetSigma;
    float bell[2 * Radius + 1], total = 0;
    for (int k = -Radius; k <= Radius; ++k)
        total += bell[k + Radius] = float(std::exp(-0.5 * k * k / (OnsetSigma * OnsetSigma)));
    std::size_t n = a.size();
    std::vector<float> blurred(n, 0), rise(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        float sum = 0;
        for (int k = -Radius; k <= Radius; ++k) {
            std::ptrdiff_t j = std::ptrdiff_t(i) + k;
            sum += bell[k + Radius] * a[std::size_t(std::clamp<std::ptrdiff_t>(j, 0, std::ptrdiff_t(n) - 1))];
        }
        blurred[i] = sum / total;
    }
    for (std::size_t i = 1; i + 1 < n; ++i)
        rise[i] = std::max(0.0f, blurred[i + 1] - blurred[i - 1]);
    return rise;
}

Track energyView(const std::vector<float>& db, const char* name)
{
    Track t;
    t.name = name;
    std::vector<float> floor = quiet(db);
    t.activity.resize(db.size());
    for (std::size_t i = 0; i < db.size(); ++i)
        t.activity[i] = std::clamp((db[i] - floor[i] - 6) / 6, 0.0f, 1.0f);
    t.onsets = onsetsOf(t.activity);
    return t;
}

Track steadyView(const std::vector<std::uint8_t>& bands, const char* name)
{
    std::size_t n = bands.size() / Bands;
    std::vector<float> rise(n, 0), band(n);
    for (int b = 0; b < Bands; ++b) {
        for (std::size_t i = 0; i < n; ++i)
            band[i] = float(levelDb(bands[i * Bands + b]));
        std::vector<float> before = runningMin(band, SteadyFrames, false);
        std::vector<float> after = runningMin(band, SteadyFrames, true);
        for (std::size_t i = 0; i < n; ++i)
            rise[i] += std::clamp(band[i] - std::max(before[i], after[i]) - 3, 0.0f, 20.0f);
    }
    Track t;
    t.name = name;
    t.activity = smooth(rise, 10);
    std::vector<float> some;
    for (std::size_t i = 0; i < n; i += 10)
        some.push_back(t.activity[i]);
    float top = quantile(some, 0.9);
    for (float& v : t.activity)
        v = top > 0 ? std::min(v / top, 1.0f) : 0;
    // Onsets from the rise itself: smoothed over 200 ms, it would blur them.
    for (float& v : rise)
        v = top > 0 ? std::min(v / top, 1.0f) : 0;
    t.onsets = onsetsOf(rise);
    return t;
}

}  // namespace

void finishTrack(Track& t)
{
    for (std::vector<float>* a : {&t.activity, &t.onsets}) {
        double mean = 0;
        for (float v : *a)
            mean += v;
        mean /= a->empty() ? 1 : double(a->size());
        double squares = 0;
        for (float& v : *a) {
            v = float(v - mean);
            squares += double(v) * v;
        }
        (a == &t.activity ? t.activityNorm : t.onsetNorm) = std::sqrt(squares);
    }
    t.sums.assign(t.activity.size() + 1, 0);
    double sum = 0;
    for (std::size_t i = 0; i < t.activity.size(); ++i)
        t.sums[i + 1] = float(sum += t.activity[i]);
}

Hearing speechViews(Sound& sound, std::vector<Track>* views)
{
    views->clear();
    std::vector<float> db = loudness(sound.bands);
    if (db.empty() || quantile(db, 0.99) < SilentDb)
        return Hearing::Silent;
    views->push_back(steadyView(sound.bands, "rise above the steady sound"));
    sound.bands = std::vector<std::uint8_t>();
    views->push_back(energyView(db, "loudness"));
    db = std::vector<float>();
    if (!sound.centre.empty()) {
        views->push_back(steadyView(sound.centre, "front centre: rise above the steady sound"));
        views->push_back(energyView(loudness(sound.centre), "front centre: loudness"));
        sound.centre = std::vector<std::uint8_t>();
    }
    bool any = false;
    for (Track& t : *views) {
        t.leadMs = SpeechLeadMs;
        finishTrack(t);
        any = any || t.activityNorm > 0;
    }
    // Nothing comes and goes: a steady tone, or noise.
    return any ? Hearing::Speech : Hearing::NoSpeech;
}

}  // namespace chronelle
