// A change and its selection as the window's fields hold them, as typed:
// built into the patcher's options with the command line's own parsers, and
// made again from a change found elsewhere, so that the window can show it.
#pragma once

#include <cstdint>
#include <string>

#include "patcher.h"

namespace chronelle {

struct ChangeForm {
    enum class Kind {
        Offset,  // the offset of the four spin buttons, added or removed
        To,      // the first selected line made to start at `to`
        Sync,    // shown[i] (the subtitle's time) goes to heard[i]
        Fps,     // times scaled by fpsFrom / fpsTo
    };
    Kind kind = Kind::Offset;
    Shift offset;
    bool add = true;  // "Ajouter"; false: "Retirer"
    std::string to;
    std::string shown[2], heard[2];
    std::string fpsFrom, fpsTo;
    // The selections ticked, each with its value; none: every line.
    bool byFrom = false, byUntil = false, byCues = false;
    std::string from, until;
    std::int64_t firstCue = 1, lastCue = NoLimit;
};

// The field that stops a form from being built, and why.
enum class FormField { None, To, Shown1, Heard1, Shown2, Heard2, FpsFrom, FpsTo, From, Until, Cues };
enum class FormProblem {
    None,
    Time,               // not a time the command line would take
    Rate,               // not a frame rate
    RatesTooFine,       // two rates whose ratio cannot be computed exactly
    SameShown,          // both points of a sync shown at the same time
    Reversed,           // a sync that would put the subtitles out of order
    UntilNotAfterFrom,  // "Avant" not later than "À partir de"
    CuesReversed,       // the last position before the first
};
struct FormError {
    FormProblem problem = FormProblem::None;
    FormField field = FormField::None;
};

// Reads the form into `options` (its change and selection; the rest is left
// as it was). Spaces around a typed value are not part of it.
FormError buildChange(const ChangeForm& form, ShiftOptions* options);

// The form that builds exactly this change and selection. False when the
// fields cannot hold it: an offset beyond the spin buttons' 5:59:59,999, or
// a scale that no two times or rates of at most 9 digits give exactly.
bool formOf(const Retiming& retiming, const Selection& selection, ChangeForm* form);

// A time as the fields show it: "0:00:41,300".
std::string formatTime(std::int64_t ms);

// The digits typed after a decimal comma, as milliseconds: "5" is 500, "25"
// 250, "125" 125; "" is 0. False for anything else (a fourth digit too).
bool parseFraction(const std::string& digits, int* ms);

// Where a change can hold times: below 00:00:00,000, past 99:59:59,999, or
// both. `offsetMs` is the offset applied (for To, the one found).
struct HeldEnds {
    bool low = false, high = false;
};
HeldEnds heldEnds(const Retiming& retiming, std::int64_t offsetMs);

}  // namespace chronelle
