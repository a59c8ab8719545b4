// Test films with a known truth, made by tests/films/make_film.py: espeak-ng
// voices at known times over music, doors and jingles; their subtitles.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "test_files.h"

namespace testing_files {

// Makes the film NAME in `folder` (its right subtitle beside it, NAME's
// base with .srt) with make_film.py's `options`.
inline void makeFilm(const std::string& folder, const std::string& name, const std::string& options)
{
    RunResult r = run("/usr/bin/python3 " + quote(std::string(CHRONELLE_FILMS) + "/make_film.py") +
                          " -o " + name + " --cache . " + options,
                      folder);
    ASSERT_EQ(r.status, 0)
        << "tests/films/make_film.py (bash tools/deps.sh test installs what it needs): " << r.err;
}

// Each cue's start in a subtitle file (ms).
inline std::vector<std::int64_t> starts(const std::string& srt)
{
    std::regex timing(R"((\d\d):(\d\d):(\d\d),(\d\d\d) -->)");
    std::vector<std::int64_t> out;
    for (std::sregex_iterator m(srt.begin(), srt.end(), timing), end; m != end; ++m)
        out.push_back(
            ((std::stoll((*m)[1]) * 60 + std::stoll((*m)[2])) * 60 + std::stoll((*m)[3])) * 1000 +
            std::stoll((*m)[4]));
    return out;
}

}  // namespace testing_files
