// The speech detector: a small classifier, trained offline on recorded
// voices over other music than any test film's (bench/voices/), that tells
// for each 10 ms frame how likely someone is speaking. It sees what sets
// speech apart from a music bed or a hum: the shape of the spectrum, the
// loudness against the quiet and the loud of the half minute around, how
// far each band rises above its own steady level of the moment, and how
// the bands come and go several times a second. The film is worked out a
// minute at a time, so that memory stays small whatever its length.
#include "speech.h"

#include <algorithm>
#include <cmath>

#include "speech_model.h"
#include "threads.h"

namespace chronelle {

namespace {

constexpr int SteadyFrames = 40;   // half a second each way
constexpr int QuietFrames = 1500;  // 15 s each way, for the quiet and the loud
constexpr double SilentDb = -75;   // the loudest 1 % below this: silence
// Subtitlers show a line 0 to 100 ms before it is said.
constexpr double SpeechLeadMs = 50;
constexpr int Groups = Bands / 4;  // bands taken four at a time
constexpr std::size_t BlockFrames = 6000;
constexpr std::size_t Margin = 150;  // frames around a block that its features look at

double levelDb(std::uint8_t q) { return LevelFloorDb + q / 2.0; }

// The least of a[i-w .. i] (ahead false) or a[i .. i+w] (ahead true), for
// every i: the least of the block of w + 1 values so far and of the rest of
// the block before (van Herk's way, three passes and no branches).
std::vector<float> runningMin(const std::vector<float>& a, int w, bool ahead)
{
    std::size_t n = a.size(), block = std::size_t(w) + 1;
    if (n == 0 || w < 1)
        return a;
    std::size_t m = n + block;  // room for the windows that run past either end
    constexpr float Far = 1e30f;
    // x[j] = a[j - w] looking back (padded before), a[j] looking ahead.
    std::vector<float> x(m, Far), fromStart(m), toEnd(m);
    for (std::size_t i = 0; i < n; ++i)
        x[ahead ? i : i + std::size_t(w)] = a[i];
    for (std::size_t b = 0; b < m; b += block) {
        std::size_t end = std::min(m, b + block);
        fromStart[b] = x[b];
        for (std::size_t j = b + 1; j < end; ++j)
            fromStart[j] = std::min(fromStart[j - 1], x[j]);
        toEnd[end - 1] = x[end - 1];
        for (std::size_t j = end - 1; j-- > b;)
            toEnd[j] = std::min(toEnd[j + 1], x[j]);
    }
    // The least of x[j .. j + w] for every window start j.
    std::vector<float> out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = std::min(toEnd[i], fromStart[i + std::size_t(w)]);
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

// Average over 2 * half + 1 frames (fewer at the ends), by a running sum.
std::vector<float> smooth(const std::vector<float>& a, int half)
{
    std::size_t n = a.size(), h = std::size_t(half);
    std::vector<float> out(n);
    double sum = 0;
    for (std::size_t i = 0; i < std::min(n, h); ++i)
        sum += a[i];
    for (std::size_t i = 0; i < n; ++i) {
        if (i + h < n)
            sum += a[i + h];
        if (i > h)
            sum -= a[i - h - 1];
        std::size_t from = i >= h ? i - h : 0, to = std::min(n, i + h + 1);
        out[i] = float(sum / double(to - from));
    }
    return out;
}

// Power of each level, once for all.
struct Powers {
    double of[256];
    Powers()
    {
        for (int q = 0; q < 256; ++q)
            of[q] = std::pow(10.0, levelDb(std::uint8_t(q)) / 10);
    }
};
const Powers powers;

float decibels(double power) { return float(10 * std::log10(power + 1e-30)); }

// The loudness of every frame, in decibels.
std::vector<float> loudness(const std::uint8_t* bands, std::size_t frames)
{
    std::vector<float> out(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        double p = 0;
        for (int b = 0; b < Bands; ++b)
            p += powers.of[bands[f * Bands + b]];
        out[f] = decibels(p);
    }
    return out;
}

// The level that `fraction` of the frames of the 30 s around stay under,
// worked out every second.
std::vector<float> around(const std::vector<float>& db, double fraction)
{
    std::size_t n = db.size();
    std::vector<float> out((n + 99) / 100), some;
    for (std::size_t s = 0; s < out.size(); ++s) {
        std::size_t i = s * 100;
        std::size_t from = i >= QuietFrames ? i - QuietFrames : 0;
        std::size_t to = std::min(n, i + QuietFrames);
        some.clear();
        for (std::size_t k = from; k < to; k += 10)
            some.push_back(db[k]);
        out[s] = quantile(some, fraction);
    }
    return out;
}

// The features of frames [from, to) of a film of `n` frames, SpeechFeatures
// a frame: what the classifier is trained on.
struct Film {
    const std::uint8_t* bands;
    std::size_t n;
    std::vector<float> loud, quiet, full;  // loudness; per second, its 10 % and 90 %
};

std::vector<float> features(const Film& film, std::size_t from, std::size_t to)
{
    if (to <= from)
        return {};
    std::size_t m = to - from;
    std::vector<float> out(m * SpeechFeatures);
    auto at = [&](std::size_t i, int k) -> float& {
        return out[i * SpeechFeatures + std::size_t(k)];
    };
    // The spectrum's shape: each band against the frame's loudness.
    std::vector<float> band(m), groupDb[Groups];
    for (int b = 0; b < Bands; ++b) {
        for (std::size_t i = 0; i < m; ++i)
            band[i] = float(levelDb(film.bands[(from + i) * Bands + b])) - film.loud[from + i];
        std::vector<float> shape = smooth(band, 2);
        for (std::size_t i = 0; i < m; ++i)
            at(i, b) = shape[i];
    }
    // Loud against the quiet and the loud around.
    for (std::size_t i = 0; i < m; ++i) {
        std::size_t s = (from + i) / 100;
        at(i, Bands) = film.loud[from + i] - film.quiet[s];
        at(i, Bands + 1) = film.loud[from + i] - film.full[s];
    }
    // Each band's rise above its steady level (the larger of its least over
    // the half second before and the half second after), by groups.
    std::vector<float> rise[Groups];
    for (int g = 0; g < Groups; ++g) {
        rise[g].assign(m, 0);
        groupDb[g].assign(m, 0);
        for (int b = g * 4; b < g * 4 + 4; ++b) {
            for (std::size_t i = 0; i < m; ++i)
                band[i] = float(levelDb(film.bands[(from + i) * Bands + b]));
            std::vector<float> before = runningMin(band, SteadyFrames, false);
            std::vector<float> after = runningMin(band, SteadyFrames, true);
            for (std::size_t i = 0; i < m; ++i)
                rise[g][i] += std::clamp(band[i] - std::max(before[i], after[i]), 0.0f, 30.0f) / 4;
        }
        for (std::size_t i = 0; i < m; ++i) {
            double p = 0;
            for (int b = g * 4; b < g * 4 + 4; ++b)
                p += powers.of[film.bands[(from + i) * Bands + b]];
            groupDb[g][i] = decibels(p);
        }
    }
    // How the groups come and go: their distance from their own level of
    // the quarter second around, and their spread over 400 ms.
    for (int g = 0; g < Groups; ++g) {
        std::vector<float> r = smooth(rise[g], 5), mean = smooth(groupDb[g], 12), dist(m),
                           squares(m);
        for (std::size_t i = 0; i < m; ++i) {
            dist[i] = std::abs(groupDb[g][i] - mean[i]);
            squares[i] = groupDb[g][i] * groupDb[g][i];
        }
        std::vector<float> come = smooth(dist, 12), mean2 = smooth(groupDb[g], 20),
                           sq2 = smooth(squares, 20);
        for (std::size_t i = 0; i < m; ++i) {
            at(i, Bands + 2 + g) = r[i];
            at(i, Bands + 2 + Groups + g) = come[i];
            at(i, Bands + 2 + 2 * Groups + g) =
                std::sqrt(std::max(0.0f, sq2[i] - mean2[i] * mean2[i]));
        }
    }
    // How much the spectrum changes from frame to frame.
    std::vector<float> flux(m, 0);
    for (std::size_t i = 1; i < m; ++i) {
        float sum = 0;
        for (int b = 0; b < Bands; ++b)
            sum += std::abs(float(film.bands[(from + i) * Bands + b]) -
                            float(film.bands[(from + i - 1) * Bands + b]));
        flux[i] = sum / 2 / Bands;
    }
    flux = smooth(flux, 5);
    for (std::size_t i = 0; i < m; ++i)
        at(i, Bands + 2 + 3 * Groups) = flux[i];
    return out;
}

// `loud`: the loudness of `bands`, when it is already known.
Film filmOf(const std::vector<std::uint8_t>& bands, std::vector<float> loud = {})
{
    Film f{bands.data(), bands.size() / Bands, {}, {}, {}};
    f.loud = loud.empty() ? loudness(f.bands, f.n) : std::move(loud);
    f.quiet = around(f.loud, 0.1);
    f.full = around(f.loud, 0.9);
    return f;
}

// The classifier on frames [from, to) whose features `x` hold frames
// [first, last): each frame with the ones SpeechContext frames before and
// after it (within the film). Worked out on every other frame, in between
// by halves: speech does not come and go within 20 ms.
void classify(const std::vector<float>& x, std::size_t first, std::size_t last, std::size_t from,
              std::size_t to, float* p)
{
    // Each kept frame's features seen through each of the three parts of
    // the first layer.
    std::size_t kept = (last - first + 1) / 2;
    std::vector<float> seen(3 * kept * SpeechHidden);
    for (std::size_t k = 0; k < kept; ++k) {
        const float* in = &x[2 * k * SpeechFeatures];
        for (int part = 0; part < 3; ++part) {
            // Summed here, where nothing else can be written: the compiler
            // then keeps the sums in vector registers.
            float sum[SpeechHidden] = {};
            for (int j = 0; j < SpeechFeatures; ++j) {
                const float v = in[j];
                const float* w = SpeechWeights1[part * SpeechFeatures + j];
                for (int h = 0; h < SpeechHidden; ++h)
                    sum[h] += w[h] * v;
            }
            std::copy(sum, sum + SpeechHidden,
                      &seen[(std::size_t(part) * kept + k) * SpeechHidden]);
        }
    }
    auto at = [&](int part, std::ptrdiff_t frame) {
        frame = std::clamp<std::ptrdiff_t>(frame, std::ptrdiff_t(first), std::ptrdiff_t(last) - 1);
        std::size_t k = std::min(kept - 1, std::size_t(frame - std::ptrdiff_t(first)) / 2);
        return &seen[(std::size_t(part) * kept + k) * SpeechHidden];
    };
    float previous = 0;
    for (std::size_t t = from - (from - first) % 2; t < to + 1; t += 2) {
        float z = SpeechBias2;
        const float *a = at(0, std::ptrdiff_t(t) - SpeechContext), *b = at(1, std::ptrdiff_t(t)),
                    *c = at(2, std::ptrdiff_t(t) + SpeechContext);
        for (int h = 0; h < SpeechHidden; ++h)
            z += SpeechWeights2[h] * std::max(0.0f, SpeechBias1[h] + a[h] + b[h] + c[h]);
        float now = 1 / (1 + std::exp(-z));
        if (t >= from && t < to)
            p[t] = now;
        if (t >= from + 1 && t - 1 < to)
            p[t - 1] = (previous + now) / 2;
        previous = now;
    }
}

}  // namespace

std::vector<float> speechFeatures(const std::vector<std::uint8_t>& bands)
{
    Film film = filmOf(bands);
    std::vector<float> out;
    out.reserve(film.n * SpeechFeatures);
    for (std::size_t b = 0; b < film.n; b += BlockFrames) {
        std::size_t from = b >= Margin ? b - Margin : 0,
                    to = std::min(film.n, b + BlockFrames + Margin);
        std::vector<float> x = features(film, from, to);
        std::size_t end = std::min(film.n, b + BlockFrames);
        out.insert(out.end(), x.begin() + std::ptrdiff_t((b - from) * SpeechFeatures),
                   x.begin() + std::ptrdiff_t((end - from) * SpeechFeatures));
    }
    return out;
}

namespace {

// The classifier over the blocks [first, last) of a film, each with its own
// margin of features.
struct Blocks {
    const Film* film;
    std::size_t first, last;
    float* p;
};

void classifyBlocks(void* arg)
{
    const Blocks& w = *static_cast<const Blocks*>(arg);
    const Film& film = *w.film;
    for (std::size_t k = w.first; k < w.last; ++k) {
        std::size_t b = k * BlockFrames;
        std::size_t from = b >= Margin ? b - Margin : 0,
                    to = std::min(film.n, b + BlockFrames + Margin);
        std::vector<float> x = features(film, from, to);
        classify(x, from, to, b, std::min(film.n, b + BlockFrames), w.p);
    }
}

// How likely someone is speaking in each frame of a sound's band levels,
// 0 to 1.
std::vector<float> speechProbability(const std::vector<std::uint8_t>& bands,
                                     std::vector<float> loud)
{
    Film film = filmOf(bands, std::move(loud));
    std::vector<float> p(film.n);
    // Half the blocks on another thread: each block stands on its own.
    std::size_t blocks = (film.n + BlockFrames - 1) / BlockFrames;
    Blocks a{&film, 0, blocks / 2, p.data()}, b{&film, blocks / 2, blocks, p.data()};
    runBoth(classifyBlocks, &a, classifyBlocks, &b);
    return p;
}

Track speechView(const std::vector<std::uint8_t>& bands, std::vector<float> loud = {})
{
    Track t;
    t.activity = speechProbability(bands, std::move(loud));
    t.leadMs = SpeechLeadMs;
    return t;
}

}  // namespace

bool finishTrack(Track& t)
{
    double mean = 0;
    for (float v : t.activity)
        mean += v;
    mean /= t.activity.empty() ? 1 : double(t.activity.size());
    double squares = 0;
    for (float& v : t.activity) {
        v = float(v - mean);
        squares += double(v) * v;
    }
    t.sums.assign(t.activity.size() + 1, 0);
    double sum = 0;
    for (std::size_t i = 0; i < t.activity.size(); ++i)
        t.sums[i + 1] = float(sum += t.activity[i]);
    return squares > 0;
}

Hearing speechViews(Sound& sound, std::vector<Track>* views)
{
    views->clear();
    std::vector<float> db = loudness(sound.bands.data(), sound.bands.size() / Bands);
    if (db.empty() || quantile(db, 0.99) < SilentDb)
        return Hearing::Silent;
    views->push_back(speechView(sound.bands, std::move(db)));
    sound.bands = std::vector<std::uint8_t>();
    if (!sound.centre.empty()) {
        views->push_back(speechView(sound.centre));
        sound.centre = std::vector<std::uint8_t>();
    }
    bool any = false;
    for (Track& t : *views)
        any = finishTrack(t) || any;
    // Nothing comes and goes: a steady tone, or noise.
    return any ? Hearing::Speech : Hearing::NoSpeech;
}

}  // namespace chronelle
