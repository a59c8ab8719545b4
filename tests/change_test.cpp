// The window's form of a change: what it refuses and where, and a change
// made into a form and read back giving the same times.
#include "change.h"

#include <gtest/gtest.h>

#include "duration.h"

using namespace chronelle;
using Kind = ChangeForm::Kind;

namespace {

ChangeForm sync(const char* s1, const char* h1, const char* s2, const char* h2)
{
    ChangeForm f;
    f.kind = Kind::Sync;
    f.shown[0] = s1, f.heard[0] = h1, f.shown[1] = s2, f.heard[1] = h2;
    return f;
}

ChangeForm fps(const char* from, const char* to)
{
    ChangeForm f;
    f.kind = Kind::Fps;
    f.fpsFrom = from, f.fpsTo = to;
    return f;
}

Retiming built(const ChangeForm& f)
{
    ShiftOptions o;
    EXPECT_EQ(buildChange(f, &o).problem, FormProblem::None);
    return o.retiming;
}

}  // namespace

TEST(ChangeForm, RefusedWhereTheFieldIs)
{
    ChangeForm to;
    to.kind = Kind::To;
    to.shown[0] = "0:00:20,000";
    to.heard[0] = "41.3.";
    ChangeForm range = fps("25", "24");
    range.byFrom = range.byUntil = true;
    range.from = "1:00";
    range.until = "0:59,5";
    ChangeForm cues;
    cues.byCues = true;
    cues.firstCue = 5, cues.lastCue = 4;
    const struct {
        ChangeForm form;
        FormProblem problem;
        FormField field;
    } cases[] = {
        {to, FormProblem::Time, FormField::Heard1},
        {sync("1", "", "3", "4"), FormProblem::Time, FormField::Heard1},
        {sync("1", "2", "1,000", "4"), FormProblem::SameShown, FormField::Shown2},
        {sync("1", "5", "3", "4"), FormProblem::Reversed, FormField::Heard2},
        {fps("25", "2x"), FormProblem::Rate, FormField::FpsTo},
        {fps("", "25"), FormProblem::Rate, FormField::FpsFrom},
        {fps("999999999", "0.00000001"), FormProblem::RatesTooFine, FormField::FpsTo},
        {range, FormProblem::UntilNotAfterFrom, FormField::Until},
        {cues, FormProblem::CuesReversed, FormField::Cues},
    };
    for (const auto& c : cases) {
        ShiftOptions o;
        o.retiming.offsetMs = 7;
        FormError e = buildChange(c.form, &o);
        EXPECT_TRUE(e.problem == c.problem && e.field == c.field)
            << int(e.problem) << " " << int(e.field) << " for case " << (&c - cases);
        EXPECT_EQ(o.retiming.offsetMs, 7) << "a refused form changes nothing";
    }
}

// Every scale a form can give is made into a form again that gives the same
// times: two rates (named, or their terms) and an offset, or the first and
// last cues taken to their new starts.
TEST(ChangeForm, ScalesMadeAgainExactly)
{
    const std::vector<Cue> cues = {Cue{20000, 21000, false, ""}, Cue{30000, 31000, false, ""},
                                   Cue{3723400, 3724000, false, ""}};
    ChangeForm commas = sync(" 0:20 ", "0:21,5", "1:02:03,4", "1:02:07");
    commas.byFrom = commas.byCues = true;
    commas.from = "41,3";
    commas.firstCue = 3;
    ChangeForm rates;
    ASSERT_TRUE(ratesForm("25", "23.976", -2651, &rates));
    Scale cli;
    ASSERT_EQ(parseSync("0:20=0:21.5,1:02:03.4=1:02:07", &cli), SyncError::None);
    const struct {
        ChangeForm form;
        Scale scale;  // the command line's
    } cases[] = {
        {commas, cli},
        {fps("25", "23,976"), Scale{1001, 960, 0}},
        {fps("24", "1001/960"), Scale{23040, 1001, 0}},
        {rates, Scale{1001, 960, -2651 * 960}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ShiftOptions built, rebuilt;
        ChangeForm again;
        ASSERT_EQ(buildChange(c.form, &built).problem, FormProblem::None);
        ASSERT_TRUE(formOf(built.retiming, built.selection, cues, &again));
        ASSERT_EQ(buildChange(again, &rebuilt).problem, FormProblem::None);
        EXPECT_TRUE(rebuilt.selection.fromMs == built.selection.fromMs &&
                    rebuilt.selection.firstCue == built.selection.firstCue);
        for (std::int64_t t :
             {std::int64_t(0), std::int64_t(41299), std::int64_t(3723400), MaxTimeMs}) {
            EXPECT_EQ(scaleTime(t, built.retiming.scale), scaleTime(t, c.scale)) << t;
            EXPECT_EQ(scaleTime(t, rebuilt.retiming.scale), scaleTime(t, c.scale)) << t;
        }
    }
    // Beyond what the spin buttons hold, or no exact two points: not shown.
    ChangeForm unused;
    Retiming big, steep;
    big.offsetMs = 6 * 3600 * 1000;
    steep.kind = Retiming::Kind::Scale;
    steep.scale = Scale{MaxTimeMs, 7, -1};
    EXPECT_FALSE(formOf(big, Selection{}, cues, &unused));
    EXPECT_FALSE(formOf(steep, Selection{}, cues, &unused));
    // A sync is shown on the cues, the first and the last.
    ASSERT_TRUE(formOf(built(commas), Selection{}, cues, &unused));
    EXPECT_TRUE(unused.kind == Kind::Sync && unused.cue[0] == 1 && unused.cue[1] == 3);

    // Where a scale can hold times: early ones below 0, late ones past the end.
    Retiming stretch;
    stretch.kind = Retiming::Kind::Scale;
    stretch.scale = Scale{2, 1, -1000};
    EXPECT_TRUE(heldEnds(stretch, 0).low && heldEnds(stretch, 0).high);
    stretch.scale = Scale{1001, 960, 0};
    EXPECT_TRUE(!heldEnds(stretch, 0).low && heldEnds(stretch, 0).high);
}

// The offset as typed in its four fields: carried upward, the fraction of
// the seconds as the milliseconds, and what is refused and where.
TEST(TypedOffset, CarriedOrRefused)
{
    using P = TypedProblem;
    using F = OffsetField;
    const struct {
        std::string h, m, s, ms;
        P problem;
        F field;
        Shift shift;
    } cases[] = {
        {"", "", "90", "", P::None, F::Hours, {0, 1, 30, 0}},
        {"0", "59", "59", "1500", P::None, F::Hours, {1, 0, 0, 500}},
        {"", "", "1,5", "250", P::None, F::Hours, {0, 0, 1, 500}},
        {"", "", "12.345", "", P::None, F::Hours, {0, 0, 12, 345}},
        {"", "", "1,", "250", P::None, F::Hours, {0, 0, 1, 0}},
        {"5", "59", "59", "999", P::None, F::Hours, {5, 59, 59, 999}},
        {"5", "59", "59", "1000", P::TooLarge, F::Hours, {}},
        {"", "360", "", "", P::TooLarge, F::Minutes, {}},
        {"", "", "99999999999", "", P::TooLarge, F::Seconds, {}},
        {"", "", "-1,5", "", P::Sign, F::Seconds, {}},
        {"", "", "12,3456", "", P::FractionDigits, F::Seconds, {}},
        {"", "", "1.5.5", "", P::SecondSeparator, F::Seconds, {}},
        {"", "1,5", "", "", P::Separator, F::Minutes, {}},
        {"", "", "", "2 0", P::NotDigit, F::Milliseconds, {}},
    };
    for (const auto& c : cases) {
        const std::string texts[4] = {c.h, c.m, c.s, c.ms};
        TypedOffset r = readTyped(texts);
        SCOPED_TRACE(c.h + "|" + c.m + "|" + c.s + "|" + c.ms);
        EXPECT_EQ(r.problem, c.problem);
        if (c.problem != P::None) {
            EXPECT_EQ(r.field, c.field);
            continue;
        }
        EXPECT_TRUE(r.shift.h == c.shift.h && r.shift.m == c.shift.m && r.shift.s == c.shift.s &&
                    r.shift.ms == c.shift.ms)
            << r.shift.h << ":" << r.shift.m << ":" << r.shift.s << "," << r.shift.ms;
    }
}
