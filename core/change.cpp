// The window's form of a change: read with the command line's parsers
// (duration.h), and made again from a change, exactly, for the window to show.
#include "change.h"

#include <numeric>

#include "duration.h"

namespace chronelle {

namespace {

using Kind = ChangeForm::Kind;

// The largest offset the four spin buttons hold: 5:59:59,999.
constexpr std::int64_t MaxFormOffsetMs = 6 * 3600 * 1000 - 1;
constexpr std::int64_t MaxRateDigits = 999999999;

std::string trimmed(const std::string& text)
{
    std::size_t b = text.find_first_not_of(" \t");
    if (b == std::string::npos)
        return "";
    return text.substr(b, text.find_last_not_of(" \t") - b + 1);
}

bool readTime(const std::string& text, std::int64_t* ms) { return parseTime(trimmed(text), ms); }

FormError syncRetiming(const ChangeForm& f, Retiming* r)
{
    const std::string* texts[4] = {&f.shown[0], &f.heard[0], &f.shown[1], &f.heard[1]};
    const FormField fields[4] = {FormField::Shown1, FormField::Heard1, FormField::Shown2,
                                 FormField::Heard2};
    std::int64_t t[4];
    for (int i = 0; i < 4; ++i)
        if (!readTime(*texts[i], &t[i]))
            return {FormProblem::Time, fields[i]};
    r->kind = Retiming::Kind::Scale;
    switch (syncScale(t[0], t[1], t[2], t[3], &r->scale)) {
    case SyncError::None: return {};
    case SyncError::SameOld: return {FormProblem::SameShown, FormField::Shown2};
    default: return {FormProblem::Reversed, FormField::Heard2};
    }
}

std::int64_t signedOffset(const ChangeForm& f)
{
    std::int64_t ms = toMilliseconds(f.offset);
    return f.add ? ms : -ms;
}

FormError fpsRetiming(const ChangeForm& f, Retiming* r)
{
    std::string from = trimmed(f.fpsFrom), to = trimmed(f.fpsTo);
    Scale alone;  // each rate against 1, whose ratio is always exact
    if (!parseRates(from, "1", &alone))
        return {FormProblem::Rate, FormField::FpsFrom};
    if (!parseRates("1", to, &alone))
        return {FormProblem::Rate, FormField::FpsTo};
    r->kind = Retiming::Kind::Scale;
    if (!parseRates(from, to, &r->scale))
        return {FormProblem::RatesTooFine, FormField::FpsTo};
    // Then the offset, as --piece "FROM:TO+OFFSET" has it.
    r->scale.add = signedOffset(f) * r->scale.den;
    return {};
}

FormError buildRetiming(const ChangeForm& f, Retiming* r)
{
    switch (f.kind) {
    case Kind::Offset: r->offsetMs = signedOffset(f); return {};
    case Kind::To: {
        std::int64_t shown = 0, heard = 0;
        if (!readTime(f.shown[0], &shown))
            return {FormProblem::Time, FormField::Shown1};
        if (!readTime(f.heard[0], &heard))
            return {FormProblem::Time, FormField::Heard1};
        r->offsetMs = heard - shown;
        return {};
    }
    case Kind::Sync: return syncRetiming(f, r);
    case Kind::Fps: return fpsRetiming(f, r);
    }
    return {};
}

FormError buildSelection(const ChangeForm& f, Selection* s)
{
    if (f.byFrom && !readTime(f.from, &s->fromMs))
        return {FormProblem::Time, FormField::From};
    if (f.byUntil && !readTime(f.until, &s->untilMs))
        return {FormProblem::Time, FormField::Until};
    if (f.byFrom && f.byUntil && s->untilMs <= s->fromMs)
        return {FormProblem::UntilNotAfterFrom, FormField::Until};
    if (f.byCues) {
        if (f.firstCue < 1 || f.lastCue < f.firstCue)
            return {FormProblem::CuesReversed, FormField::Cues};
        s->firstCue = f.firstCue;
        s->lastCue = f.lastCue;
    }
    return {};
}

bool offsetForm(std::int64_t ms, ChangeForm* f)
{
    std::int64_t a = ms < 0 ? -ms : ms;
    if (a > MaxFormOffsetMs)
        return false;
    f->kind = Kind::Offset;
    f->add = ms >= 0;
    f->offset = Shift{int(a / 3600000), int(a / 60000 % 60), int(a / 1000 % 60), int(a % 1000)};
    return true;
}

// The usual rates, as the fields name them.
const struct {
    const char* name;
    std::int64_t num, den;
} UsualRates[] = {
    {"23,976", 24000, 1001}, {"24", 24, 1}, {"25", 25, 1}, {"29,97", 30000, 1001}, {"30", 30, 1}};

// A scale as two rates, then a whole number of milliseconds: named rates
// when a pair of the usual ones gives it, else its reduced terms.
bool fpsForm(const Scale& scale, ChangeForm* f)
{
    if (scale.add % scale.den != 0 || !offsetForm(scale.add / scale.den, f))
        return false;
    std::int64_t g = std::gcd(scale.num, scale.den);
    std::int64_t num = scale.num / g, den = scale.den / g;
    f->kind = Kind::Fps;
    for (const auto& a : UsualRates)
        for (const auto& b : UsualRates)
            if (a.num * b.den * den == a.den * b.num * num) {
                f->fpsFrom = a.name;
                f->fpsTo = b.name;
                return true;
            }
    if (num > MaxRateDigits || den > MaxRateDigits)
        return false;
    f->fpsFrom = std::to_string(num);
    f->fpsTo = std::to_string(den);
    return true;
}

bool sameScale(const Scale& a, const Scale& b)
{
    return a.num * b.den == b.num * a.den && a.add * b.den == b.add * a.den;
}

// A scale as the earliest and the latest cue taken to their new starts,
// when those two points give it exactly.
bool syncForm(const Scale& scale, const std::vector<Cue>& cues, ChangeForm* f)
{
    if (cues.empty())
        return false;
    std::size_t first = 0, last = 0;
    for (std::size_t i = 1; i < cues.size(); ++i) {
        first = cues[i].startMs < cues[first].startMs ? i : first;
        last = cues[i].startMs >= cues[last].startMs ? i : last;
    }
    std::int64_t t[2] = {cues[first].startMs, cues[last].startMs}, heard[2];
    for (int k = 0; k < 2; ++k) {
        heard[k] = scaleTime(t[k], scale);
        if (heard[k] < 0 || heard[k] > MaxTimeMs)
            return false;
    }
    Scale two;
    if (syncScale(t[0], heard[0], t[1], heard[1], &two) != SyncError::None ||
        !sameScale(two, scale))
        return false;
    f->kind = Kind::Sync;
    f->cue[0] = std::int64_t(first) + 1;
    f->cue[1] = std::int64_t(last) + 1;
    for (int k = 0; k < 2; ++k) {
        f->shown[k] = formatTime(t[k]);
        f->heard[k] = formatTime(heard[k]);
    }
    return true;
}

}  // namespace

FormError buildChange(const ChangeForm& form, ShiftOptions* options)
{
    Retiming retiming;
    Selection selection;
    FormError e = buildRetiming(form, &retiming);
    if (e.problem == FormProblem::None)
        e = buildSelection(form, &selection);
    if (e.problem != FormProblem::None)
        return e;
    options->retiming = retiming;
    options->selection = selection;
    return {};
}

bool formOf(const Retiming& retiming, const Selection& selection, const std::vector<Cue>& cues,
            ChangeForm* form)
{
    ChangeForm f;
    switch (retiming.kind) {
    case Retiming::Kind::Offset:
        if (!offsetForm(retiming.offsetMs, &f))
            return false;
        break;
    case Retiming::Kind::To:                    // its offset depends on the file: never found
    case Retiming::Kind::Pieces: return false;  // the window has one change only
    case Retiming::Kind::Scale:
        if (retiming.scale.num <= 0 || retiming.scale.den <= 0)
            return false;
        if (!fpsForm(retiming.scale, &f) && !syncForm(retiming.scale, cues, &f))
            return false;
        break;
    }
    f.byFrom = selection.fromMs > 0;
    f.byUntil = selection.untilMs != NoLimit;
    f.byCues = selection.firstCue != 1 || selection.lastCue != NoLimit;
    if ((f.byFrom && selection.fromMs > MaxTimeMs) || (f.byUntil && selection.untilMs > MaxTimeMs))
        return false;
    f.from = f.byFrom ? formatTime(selection.fromMs) : "";
    f.until = f.byUntil ? formatTime(selection.untilMs) : "";
    f.firstCue = selection.firstCue;
    f.lastCue = selection.lastCue;
    *form = f;
    return true;
}

bool ratesForm(const std::string& from, const std::string& to, std::int64_t offsetMs,
               ChangeForm* form)
{
    ChangeForm f;
    if (!offsetForm(offsetMs, &f))
        return false;
    f.kind = Kind::Fps;
    f.fpsFrom = from;
    f.fpsTo = to;
    for (std::string* rate : {&f.fpsFrom, &f.fpsTo})
        for (char& c : *rate)
            c = c == '.' ? ',' : c;
    *form = f;
    return true;
}

bool parseFraction(const std::string& digits, int* ms)
{
    if (digits.size() > 3)
        return false;
    int value = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        char c = i < digits.size() ? digits[i] : '0';
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    *ms = value;
    return true;
}

namespace {

constexpr std::size_t MostDigits = 9;  // beyond, any field is too large anyway

bool separator(char c) { return c == ',' || c == '.'; }

}  // namespace

TypedProblem checkTyped(OffsetField field, const std::string& text)
{
    bool seen = false;
    std::size_t after = 0;  // digits after the separator
    for (char c : text) {
        if (c == '-' || c == '+')
            return TypedProblem::Sign;
        if (separator(c)) {
            if (field != OffsetField::Seconds)
                return TypedProblem::Separator;
            if (seen)
                return TypedProblem::SecondSeparator;
            seen = true;
        } else if (c < '0' || c > '9') {
            return TypedProblem::NotDigit;
        } else if (seen && ++after > 3) {
            return TypedProblem::FractionDigits;
        }
    }
    return TypedProblem::None;
}

TypedOffset readTyped(const std::string (&texts)[4])
{
    TypedOffset r;
    std::int64_t value[4] = {0, 0, 0, 0};
    int fraction = -1;
    for (int i = 0; i < 4; ++i) {
        r.field = OffsetField(i);
        r.problem = checkTyped(r.field, texts[i]);
        if (r.problem != TypedProblem::None)
            return r;
        std::size_t mark = texts[i].find_first_of(",.");
        std::string whole = texts[i].substr(0, mark);
        if (whole.size() > MostDigits) {
            r.problem = TypedProblem::TooLarge;
            return r;
        }
        value[i] = whole.empty() ? 0 : std::stoll(whole);
        if (mark != std::string::npos)
            parseFraction(texts[i].substr(mark + 1), &fraction);
    }
    if (fraction >= 0)
        value[3] = fraction;
    std::int64_t ms = ((value[0] * 60 + value[1]) * 60 + value[2]) * 1000 + value[3];
    if (ms > MaxFormOffsetMs) {
        // At fault: the first field from the hours down that holds anything.
        int i = 0;
        while (i < 3 && value[i] == 0)
            ++i;
        r.problem = TypedProblem::TooLarge;
        r.field = OffsetField(i);
        return r;
    }
    r.problem = TypedProblem::None;
    r.field = OffsetField::Hours;
    r.shift = Shift{int(ms / 3600000), int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000)};
    return r;
}

bool typedFraction(const std::string& seconds, int* ms)
{
    std::size_t mark = seconds.find_first_of(",.");
    return mark != std::string::npos &&
           checkTyped(OffsetField::Seconds, seconds) == TypedProblem::None &&
           parseFraction(seconds.substr(mark + 1), ms);
}

HeldEnds heldEnds(const Retiming& retiming, std::int64_t offsetMs)
{
    if (retiming.kind == Retiming::Kind::Pieces) {
        HeldEnds ends;
        for (const Piece& p : retiming.pieces) {
            ends.low = ends.low || scaleTime(0, p.scale) < 0;
            ends.high = ends.high || scaleTime(MaxTimeMs, p.scale) > MaxTimeMs;
        }
        return ends;
    }
    if (retiming.kind != Retiming::Kind::Scale)
        return {offsetMs<0, offsetMs> 0};
    return {scaleTime(0, retiming.scale) < 0, scaleTime(MaxTimeMs, retiming.scale) > MaxTimeMs};
}

}  // namespace chronelle
