// Listening to a film: real files decoded by FFmpeg's libraries, in one
// piece and in two halves at once, and the films it refuses.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "match.h"
#include "progress_record.h"
#include "voices.h"

using namespace testing_files;

namespace {

// The level of the loudest band of a frame, in decibels.
double level(const chronelle::Sound& s, std::int64_t frame)
{
    int top = 0;
    for (int b = 0; b < chronelle::Bands; ++b)
        top = std::max<int>(top, s.bands[std::size_t(frame) * chronelle::Bands + b]);
    return chronelle::LevelFloorDb + top / 2.0;
}

// 90 s of quiet, with a second of buzz from each 10 s mark on.
std::vector<float> bursts()
{
    std::vector<float> s(90 * voices::Rate, 0.0f);
    for (std::size_t i = 0; i < s.size(); ++i) {
        double t = double(i) / voices::Rate;
        double into = std::fmod(t, 10);
        s[i] =
            float(into < 1 ? 0.3 * std::sin(2 * voices::Pi * 440 * t) * std::sin(voices::Pi * into)
                           : 1e-4 * std::sin(2 * voices::Pi * 1000 * t));
    }
    return s;
}

}  // namespace

TEST(Listen, HalvesAtOnceHearWhatOnePassHears)
{
    TempDir dir;
    std::string wav = dir.file("bursts.wav");
    voices::writeWav(wav, bursts());
    // The same in 5.1, the bursts in the front centre alone.
    RunResult r = run("ffmpeg -v error -i bursts.wav -af 'pan=5.1|FC=c0' five.wav", dir.path());
    ASSERT_EQ(r.status, 0) << "the ffmpeg program (bash tools/deps.sh test installs it): " << r.err;
    for (const char* name : {"bursts.wav", "five.wav"}) {
        chronelle::Sound one, two;
        chronelle::SoundOptions o;
        o.bothCores = false;
        ASSERT_EQ(chronelle::listen(dir.file(name), o, &one).failure,
                  chronelle::SoundFailure::None);
        std::vector<Step> steps;
        o.bothCores = true;
        o.progress = record;
        o.user = &steps;
        ASSERT_EQ(chronelle::listen(dir.file(name), o, &two).failure,
                  chronelle::SoundFailure::None);

        EXPECT_EQ(one.frames, 9000) << name;
        EXPECT_EQ(one.statedMs, 90000) << name;
        EXPECT_EQ(two.frames, one.frames) << name;
        EXPECT_TRUE(two.bands == one.bands) << name << ": the halves meet without a seam";
        EXPECT_TRUE(two.centre == one.centre) << name << ": the centre's too";
        EXPECT_EQ(one.centre.empty(), std::string(name) == "bursts.wav") << name;
        // Loud in the bursts, quiet between; the frames are where the time is.
        for (std::int64_t second : {0, 40, 50, 80}) {
            EXPECT_GT(level(one, second * 100 + 50), -40) << name << " " << second;
            EXPECT_LT(level(one, second * 100 + 150), -70) << name << " " << second;
            if (second > 0) {
                EXPECT_LT(level(one, second * 100 - 10), -70) << name << " " << second;
            }
        }
        ASSERT_GE(steps.size(), 2u);
        for (std::size_t i = 1; i < steps.size(); ++i)
            EXPECT_GT(steps[i].fraction, steps[i - 1].fraction);
        EXPECT_EQ(steps.back().stage, chronelle::Stage::Listening);
        EXPECT_EQ(steps.back().fraction, 1.0);
    }
}

TEST(Listen, FilmsThatCannotBeMatched)
{
    TempDir dir;
    std::vector<float> s = bursts();
    voices::writeWav(dir.file("silent.wav"), std::vector<float>(s.size(), 0.0f));
    voices::writeWav(dir.file("whole.wav"), s);
    writeFile(dir.file("notes.txt"), "courses : pain, lait\r\n");

    chronelle::MatchOptions o;
    EXPECT_EQ(chronelle::loadReference(dir.file("silent.wav"), o).failure,
              chronelle::ReferenceFailure::Silent);
    const struct {
        const char* name;
        chronelle::SoundFailure failure;
    } cases[] = {
        {"notes.txt", chronelle::SoundFailure::Open},
        {"absent.mkv", chronelle::SoundFailure::Open},
    };
    for (const auto& c : cases) {
        chronelle::Reference r = chronelle::loadReference(dir.file(c.name), o);
        EXPECT_EQ(r.failure, chronelle::ReferenceFailure::Sound) << c.name;
        EXPECT_EQ(r.soundResult.failure, c.failure) << c.name;
    }
    o.track = 2;
    EXPECT_EQ(chronelle::loadReference(dir.file("whole.wav"), o).soundResult.failure,
              chronelle::SoundFailure::NoSuchTrack);
    // Stopped from another thread, as the window's button does.
    std::atomic<bool> stop{true};
    chronelle::SoundOptions so;
    so.stop = &stop;
    chronelle::Sound sound;
    EXPECT_EQ(chronelle::listen(dir.file("whole.wav"), so, &sound).failure,
              chronelle::SoundFailure::Stopped);
}
