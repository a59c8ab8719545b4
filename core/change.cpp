// The window's form of a change: read with the command line's parsers
// (duration.h), and made again from a change, exactly, for the window to show.
#include "change.h"

#include <cstdio>
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

bool readTime(const std::string& text, std::int64_t* ms)
{
    return parseTime(trimmed(text), ms);
}

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
    return {};
}

FormError buildRetiming(const ChangeForm& f, Retiming* r)
{
    switch (f.kind) {
    case Kind::Offset: {
        std::int64_t ms = toMilliseconds(f.offset);
        r->offsetMs = f.add ? ms : -ms;
        return {};
    }
    case Kind::To:
        r->kind = Retiming::Kind::To;
        if (!readTime(f.to, &r->targetMs))
            return {FormProblem::Time, FormField::To};
        return {};
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

// A scale without addition as two rates: named ones when a pair of the
// usual rates gives it, else its reduced terms.
bool fpsForm(const Scale& scale, ChangeForm* f)
{
    std::int64_t g = std::gcd(scale.num, scale.den);
    std::int64_t num = scale.num / g, den = scale.den / g;
    const struct {
        const char* name;
        std::int64_t num, den;
    } rates[] = {{"23,976", 24000, 1001}, {"24", 24, 1}, {"25", 25, 1}, {"29,97", 30000, 1001},
                 {"30", 30, 1}};
    for (const auto& a : rates)
        for (const auto& b : rates)
            if (a.num * b.den * den == a.den * b.num * num) {
                f->fpsFrom = a.name;
                f->fpsTo = b.name;
                f->kind = Kind::Fps;
                return true;
            }
    if (num > MaxRateDigits || den > MaxRateDigits)
        return false;
    f->fpsFrom = std::to_string(num);
    f->fpsTo = std::to_string(den);
    f->kind = Kind::Fps;
    return true;
}

// x with x * a = 1 modulo m (a and m coprime, m >= 1).
std::int64_t inverse(std::int64_t a, std::int64_t m)
{
    std::int64_t r0 = m, r1 = a % m, s0 = 0, s1 = 1;
    while (r1 != 0) {
        std::int64_t q = r0 / r1, r = r0 - q * r1, s = s0 - q * s1;
        r0 = r1, r1 = r, s0 = s1, s1 = s;
    }
    return ((s0 % m) + m) % m;
}

// A scale as two points (shown, heard) that give it exactly: the first
// shown as early as it can be, the second one step of the reduced ratio on.
bool syncForm(const Scale& scale, ChangeForm* f)
{
    std::int64_t g = std::gcd(scale.num, scale.den);
    if (scale.num <= 0 || scale.add % g != 0)
        return false;
    std::int64_t n = scale.num / g, d = scale.den / g, a = scale.add / g;
    // heard1 * d - shown1 * n = a, so shown1 = -a / n modulo d.
    std::int64_t shown = (((-a) % d + d) % d) * inverse(n % d, d) % d;
    std::int64_t heard = (a + shown * n) / d;
    if (heard < 0) {
        std::int64_t k = (-heard + n - 1) / n;
        shown += k * d;
        heard += k * n;
    }
    if (shown + d > MaxTimeMs || heard + n > MaxTimeMs)
        return false;
    f->kind = Kind::Sync;
    f->shown[0] = formatTime(shown);
    f->heard[0] = formatTime(heard);
    f->shown[1] = formatTime(shown + d);
    f->heard[1] = formatTime(heard + n);
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

bool formOf(const Retiming& retiming, const Selection& selection, ChangeForm* form)
{
    ChangeForm f;
    switch (retiming.kind) {
    case Retiming::Kind::Offset:
        if (!offsetForm(retiming.offsetMs, &f))
            return false;
        break;
    case Retiming::Kind::To:
        if (retiming.targetMs < 0 || retiming.targetMs > MaxTimeMs)
            return false;
        f.kind = Kind::To;
        f.to = formatTime(retiming.targetMs);
        break;
    case Retiming::Kind::Pieces: return false;  // the window has one change only
    case Retiming::Kind::Scale:
        if (retiming.scale.num <= 0 || retiming.scale.den <= 0)
            return false;
        if (!(retiming.scale.add == 0 && fpsForm(retiming.scale, &f)) &&
            !syncForm(retiming.scale, &f))
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

std::string formatTime(std::int64_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d,%03d", static_cast<long long>(ms / 3600000),
                  int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
    return text;
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
        return {offsetMs < 0, offsetMs > 0};
    return {scaleTime(0, retiming.scale) < 0, scaleTime(MaxTimeMs, retiming.scale) > MaxTimeMs};
}

}  // namespace chronelle
