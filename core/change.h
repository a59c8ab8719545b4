// A change and its selection as the window's fields hold them, as typed:
// built into the patcher's options with the command line's own parsers, and
// made again from a change found elsewhere, so that the window can show it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cues.h"
#include "patcher.h"

namespace chronelle {

struct ChangeForm {
    enum class Kind {
        Offset,  // the offset of the four spin buttons, added or removed
        To,      // one offset, that takes shown[0] to heard[0]
        Sync,    // shown[i] goes to heard[i]
        Fps,     // times scaled by fpsFrom / fpsTo, then the offset
    };
    Kind kind = Kind::Offset;
    Shift offset;
    bool add = true;  // "Ajouter"; false: "Retirer"
    // To and Sync: the subtitles picked by number (from 1), each with its
    // start as the file has it (shown) and the new start typed (heard); To
    // has the first only.
    std::int64_t cue[2] = {1, 1};
    std::string shown[2], heard[2];
    std::string fpsFrom, fpsTo;
    // The selections ticked, each with its value; none: every line.
    bool byFrom = false, byUntil = false, byCues = false;
    std::string from, until;
    std::int64_t firstCue = 1, lastCue = NoLimit;
};

// The field that stops a form from being built, and why.
enum class FormField { None, Shown1, Heard1, Shown2, Heard2, FpsFrom, FpsTo, From, Until, Cues };
enum class FormProblem {
    None,
    Time,               // not a time the command line would take
    Rate,               // not a frame rate
    RatesTooFine,       // two rates whose ratio cannot be computed exactly
    SameShown,          // both points of a sync shown at the same time
    Reversed,           // a sync that would put the subtitles out of order
    UntilNotAfterFrom,  // the end of the selection not after its start
    CuesReversed,       // the last position before the first
};
struct FormError {
    FormProblem problem = FormProblem::None;
    FormField field = FormField::None;
};

// Reads the form into `options` (its change and selection; the rest is left
// as it was). Spaces around a typed value are not part of it.
FormError buildChange(const ChangeForm& form, ShiftOptions* options);

// The form that builds exactly this change and selection, for a file of
// `cues`. False when the fields cannot hold it: an offset beyond the spin
// buttons' 5:59:59,999, or a scale that neither two rates of at most 9
// digits with such an offset after them, nor two of the cues (the earliest
// and the latest) taken to their new starts, give exactly.
bool formOf(const Retiming& retiming, const Selection& selection, const std::vector<Cue>& cues,
            ChangeForm* form);

// Two frame rates as named ("25", "23.976"), then an offset: the form of
// Kind::Fps. False when the offset is beyond the spin buttons.
bool ratesForm(const std::string& from, const std::string& to, std::int64_t offsetMs,
               ChangeForm* form);

// The digits typed after a decimal comma, as milliseconds: "5" is 500, "25"
// 250, "125" 125; "" is 0. False for anything else (a fourth digit too).
bool parseFraction(const std::string& digits, int* ms);

// The four fields of the offset as typed: digits, and in the seconds one
// decimal comma (or point) with at most three digits after it.
enum class OffsetField { Hours, Minutes, Seconds, Milliseconds };
enum class TypedProblem {
    None,
    NotDigit,         // a letter, a space or another sign
    Sign,             // '-' or '+': the direction is "Ajouter" or "Retirer"
    Separator,        // a comma or point outside the seconds
    SecondSeparator,  // a second one in the seconds
    FractionDigits,   // a fourth digit after it
    TooLarge,         // more than 5:59:59,999 in all
};

// Whether `text` may stand in `field` (never TooLarge).
TypedProblem checkTyped(OffsetField field, const std::string& text);

// The offset that the four fields give, as typed: each one carried into the
// one above it (90 seconds is 1 minute 30 seconds), the fraction of the
// seconds, when there is one, in place of the milliseconds. An empty field is
// 0. On a problem, `field` is the one at fault.
struct TypedOffset {
    TypedProblem problem = TypedProblem::None;
    OffsetField field = OffsetField::Hours;
    Shift shift;
};
TypedOffset readTyped(const std::string (&texts)[4]);

// The milliseconds that a fraction typed in the seconds stands for ("1,5":
// 500); false when it holds none, or not one that can be taken.
bool typedFraction(const std::string& seconds, int* ms);

// Where a change can hold times: below 00:00:00,000, past 99:59:59,999, or
// both. `offsetMs` is the offset applied (for To, the one found).
struct HeldEnds {
    bool low = false, high = false;
};
HeldEnds heldEnds(const Retiming& retiming, std::int64_t offsetMs);

}  // namespace chronelle
