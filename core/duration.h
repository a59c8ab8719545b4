// The arguments of the command-line tool: durations and times ("5", "2.5",
// "0,250", "1:30", "0:00:05,000"), ranges of timing lines ("12", "12-40",
// "12-", "-40"), two-point syncs and frame rates; and times written back as
// text in the same forms, numbers only (the front ends add the words).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "time_shift.h"

namespace chronelle {

// Parses seconds, M:SS or H:MM:SS, each with an optional fraction of 1 to 3
// digits after '.' or ','. Fields after the first are two digits below 60;
// the whole is below 100 hours. False when `text` is none of these.
bool parseDuration(const std::string& text, Shift* shift);

// A time, in the same forms, as milliseconds (up to 99:59:59,999).
bool parseTime(const std::string& text, std::int64_t* ms);

// Parses N, N-M, N- or -M (positions counted from 1, N <= M) into `first` and
// `last`; an open end is 1 or `none`. False for anything else.
bool parseRange(const std::string& text, std::int64_t none, std::int64_t* first,
                std::int64_t* last);

// "OLD1=NEW1,OLD2=NEW2" (four times): the linear change that takes OLD1 to
// NEW1 and OLD2 to NEW2.
enum class SyncError {
    None,
    Form,       // not four times in that form
    Ambiguous,  // a comma that could end a time or begin a fraction
    SameOld,    // OLD1 = OLD2
    Reversed,   // the change would not keep the subtitles' order
};
SyncError parseSync(const std::string& text, Scale* scale);

// The same change from its four times, already read: OLD1 goes to NEW1 and
// OLD2 to NEW2.
SyncError syncScale(std::int64_t old1, std::int64_t new1, std::int64_t old2, std::int64_t new2,
                    Scale* scale);

// "FROM:TO", two frame rates (decimals or N/D; 23.976, 29.97, 47.952 and
// 59.94 are the NTSC rates 24000/1001 ...): times scaled by FROM / TO.
bool parseRates(const std::string& text, Scale* scale);

// The same from the two rates apart ("25", "23,976", "30000/1001").
bool parseRates(const std::string& from, const std::string& to, Scale* scale);

// One piece of a change: "FROM-UNTIL=CHANGE", the lines that start at FROM
// or later and before UNTIL (either may be left out), or with `byCue`
// "N-M=CHANGE", the lines at positions N to M (as parseRange). CHANGE is
// "+DURATION" or "-DURATION", or "FROM:TO" rates, optionally followed by
// one of those ("25:23.976+2.5": the rates, then the offset).
enum class PieceError {
    None,
    Form,    // not in that form
    Range,   // UNTIL not after FROM
    Change,  // CHANGE is not one of those
};
PieceError parsePiece(const std::string& text, bool byCue, Piece* piece);

// Sorts the pieces by where they begin; false when two of them overlap.
bool sortPieces(std::vector<Piece>& pieces);

// A time of `ms` >= 0 as "H:MM:SS,mmm" ("0:00:41,300", as the window's
// fields show it), or with `mark` '.' as --sync and --piece take it
// ("0:00:41.300", no comma to make a sync ambiguous).
std::string formatTime(std::int64_t ms, char mark = ',');

// "H:MM:SS", whole seconds: a film's length.
std::string formatClock(std::int64_t ms);

// "2.480": seconds with their three decimals, `mark` between.
std::string formatSeconds(std::int64_t ms, char mark = '.');

// "2.48", "7.3", "2": the shortest seconds that parseDuration reads back as
// `ms` (--add 2.48).
std::string formatOffset(std::int64_t ms);

}  // namespace chronelle
