// Films with a known truth for the matcher's tests, made in the test: a
// voice-like sound (syllables of a pitched, formant-shaped buzz) from each
// cue's start, over a music bed of held chords and a beat, written as a
// 16 kHz WAV file; and the SubRip file of those cues.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "test_files.h"

namespace voices {

constexpr int Rate = 16000;
constexpr double Pi = 3.14159265358979323846;

struct Cue {
    std::int64_t startMs, endMs;
};

// Cues over `seconds`: each one's speech lasts 0.8-3 s from its start, the
// cue 0.2-0.8 s longer; the gaps between speech make it `speech` of the time.
inline std::vector<Cue> cues(int seconds, unsigned seed, double speech = 0.5)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<Cue> out;
    double t = 1 + 2 * u(rng);
    for (;;) {
        double said = 0.8 + 2.2 * u(rng), shown = said + 0.2 + 0.6 * u(rng);
        if (t + shown + 1 > seconds)
            return out;
        out.push_back(Cue{std::llround(t * 1000), std::llround((t + shown) * 1000)});
        t += said + (0.3 + 2 * u(rng)) * said * (1 / speech - 1);
    }
}

inline double resonance(double f, double centre, double width)
{
    double d = (f - centre) / width;
    return 1 / (1 + d * d);
}

// One period of a sum of harmonics, played at any pitch: far fewer sines
// than working each sample out.
struct Wave {
    static constexpr int Size = 1024;
    float table[Size];
    double phase = 0;

    template <class Weight>
    Wave(double f0, Weight weight)
    {
        for (int i = 0; i < Size; ++i) {
            double v = 0;
            for (int h = 1; h * f0 < 3800; ++h)
                v += weight(h * f0) * std::sin(2 * Pi * h * i / Size) / h;
            table[i] = float(v);
        }
    }
    float next(double f)
    {
        phase += f / Rate;
        phase -= std::floor(phase);
        return table[int(phase * Size) % Size];
    }
};

// Adds one cue's speech (its first `said` seconds are filled with
// syllables) to `s` from sample `at`.
inline void speak(std::vector<float>& s, std::size_t at, double said, std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(0, 1);
    std::size_t end = std::min(s.size(), at + std::size_t(said * Rate));
    while (at < end) {
        std::size_t n = std::min(end - at, std::size_t((0.12 + 0.14 * u(rng)) * Rate));
        double f0 = 100 + 120 * u(rng), f1 = 300 + 500 * u(rng), f2 = 900 + 1400 * u(rng);
        Wave voice(f0, [&](double f) { return resonance(f, f1, 120) + resonance(f, f2, 200); });
        for (std::size_t i = 0; i < n; ++i) {
            double x = double(i) / double(n);
            double env = std::min(1.0, std::min(x, 1 - x) * 10);  // quick rise and fall
            s[at + i] += float(0.3 * env * voice.next(f0 * (1 + 0.1 * x)));
        }
        at += n + (u(rng) < 0.3 ? std::size_t(0.06 * Rate) : 0);
    }
}

// Held chords, a new one every 2 s, and a beat every half second, `db`
// decibels from the voices (below -90: none).
inline void music(std::vector<float>& s, double db, std::mt19937& rng)
{
    if (db < -90)
        return;
    const double notes[] = {261.6, 293.7, 329.6, 349.2, 392.0, 440.0, 493.9};
    std::uniform_int_distribution<int> pick(0, 6);
    std::normal_distribution<double> noise(0, 1);
    double gain = 0.12 * std::pow(10, db / 20);
    for (std::size_t from = 0; from < s.size(); from += 2 * Rate) {
        double chord[3] = {notes[pick(rng)], notes[pick(rng)], notes[pick(rng)]};
        std::vector<Wave> waves;
        for (double f : chord)
            waves.emplace_back(f, [&](double h) { return h <= 4 * f ? 1.0 : 0.0; });
        for (std::size_t i = from; i < std::min(s.size(), from + 2 * Rate); ++i) {
            double v = 0;
            for (int k = 0; k < 3; ++k)
                v += waves[std::size_t(k)].next(chord[k]);
            if (i % (Rate / 2) < Rate / 10)
                v += 2 * noise(rng) * std::exp(-double(i % (Rate / 2)) / (0.03 * Rate));
            s[i] += float(gain * v / 3);
        }
    }
}

inline void putWord(std::string& out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char(v >> (8 * i) & 0xFF);
}

inline void writeWav(const std::string& path, const std::vector<float>& s)
{
    std::string out = "RIFF";
    putWord(out, std::uint32_t(36 + 2 * s.size()), 4);
    out += "WAVEfmt ";
    putWord(out, 16, 4);
    putWord(out, 1, 2);  // PCM
    putWord(out, 1, 2);  // mono
    putWord(out, Rate, 4);
    putWord(out, 2 * Rate, 4);
    putWord(out, 2, 2);
    putWord(out, 16, 2);
    out += "data";
    putWord(out, std::uint32_t(2 * s.size()), 4);
    for (float v : s)
        putWord(
            out,
            std::uint32_t(std::int16_t(std::lround(std::max(-1.0f, std::min(1.0f, v)) * 32000))),
            2);
    testing_files::writeFile(path, out);
}

// The film of `cues` (the speech of each fills it up to 0.2-0.8 s before
// its end), `seconds` long, with music `musicDb` from the voices.
inline void film(const std::string& path, const std::vector<Cue>& cues, int seconds, double musicDb,
                 unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<float> s(std::size_t(seconds) * Rate, 0.0f);
    std::uniform_real_distribution<double> u(0, 1);
    for (const Cue& c : cues)
        speak(s, std::size_t(c.startMs * Rate / 1000),
              double(c.endMs - c.startMs) / 1000 - 0.2 - 0.6 * u(rng), rng);
    music(s, musicDb, rng);
    writeWav(path, s);
}

inline std::string srt(const std::vector<Cue>& cues)
{
    std::string s;
    for (std::size_t i = 0; i < cues.size(); ++i)
        s += std::to_string(i + 1) + "\r\n" + testing_files::clock(cues[i].startMs) + " --> " +
             testing_files::clock(cues[i].endMs) + "\r\nRéplique " + std::to_string(i + 1) +
             "\r\n\r\n";
    return s;
}

}  // namespace voices
