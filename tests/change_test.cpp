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

}  // namespace

TEST(ChangeForm, RefusedWhereTheFieldIs)
{
    ChangeForm to;
    to.kind = Kind::To;
    to.to = "41.3.";
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
        {to, FormProblem::Time, FormField::To},
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

TEST(ChangeForm, ReadAsTheCommandLineReadsItAndMadeAgainExactly)
{
    ChangeForm commas = sync(" 0:20 ", "0:21,5", "1:02:03,4", "1:02:07");
    commas.byFrom = commas.byCues = true;
    commas.from = "41,3";
    commas.firstCue = 3;
    ChangeForm removed;
    removed.add = false;
    removed.offset = Shift{5, 59, 59, 999};
    ChangeForm to;
    to.kind = Kind::To;
    to.to = "0:00:41,300";
    to.byUntil = true;
    to.until = "1:30";
    Scale cli;
    ASSERT_EQ(parseSync("0:20=0:21.5,1:02:03.4=1:02:07", &cli), SyncError::None);
    const struct {
        ChangeForm form;
        Retiming::Kind kind;
        Scale scale;  // for a scale: the command line's
    } cases[] = {
        {commas, Retiming::Kind::Scale, cli},
        {fps("25", "23,976"), Retiming::Kind::Scale, Scale{1001, 960, 0}},
        {fps("24", "1001/960"), Retiming::Kind::Scale, Scale{23040, 1001, 0}},
        {sync("0:00:00,001", "0:00:00,003", "0:00:00,004", "0:00:00,005"), Retiming::Kind::Scale,
         Scale{2, 3, 7}},
        {removed, Retiming::Kind::Offset, {}},
        {to, Retiming::Kind::To, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        ShiftOptions built;
        ASSERT_EQ(buildChange(c.form, &built).problem, FormProblem::None);
        EXPECT_EQ(built.retiming.kind, c.kind);
        ChangeForm again;
        ASSERT_TRUE(formOf(built.retiming, built.selection, &again));
        ShiftOptions rebuilt;
        ASSERT_EQ(buildChange(again, &rebuilt).problem, FormProblem::None);
        const Selection &a = built.selection, &b = rebuilt.selection;
        EXPECT_TRUE(a.fromMs == b.fromMs && a.untilMs == b.untilMs && a.firstCue == b.firstCue &&
                    a.lastCue == b.lastCue);
        EXPECT_EQ(rebuilt.retiming.offsetMs, built.retiming.offsetMs);
        EXPECT_EQ(rebuilt.retiming.targetMs, built.retiming.targetMs);
        for (std::int64_t t : {std::int64_t(0), std::int64_t(1), std::int64_t(20000), std::int64_t(41299), std::int64_t(3723400), MaxTimeMs}) {
            if (c.kind == Retiming::Kind::Scale) {
                EXPECT_EQ(scaleTime(t, built.retiming.scale), scaleTime(t, c.scale)) << t;
                EXPECT_EQ(scaleTime(t, rebuilt.retiming.scale), scaleTime(t, c.scale)) << t;
            }
        }
    }
    EXPECT_EQ(commas.from, "41,3");
    ShiftOptions o;
    buildChange(removed, &o);
    EXPECT_EQ(o.retiming.offsetMs, -21599999);
    // Beyond what the spin buttons hold, or no exact two points: not shown.
    ChangeForm unused;
    Retiming big;
    big.offsetMs = 6 * 3600 * 1000;
    EXPECT_FALSE(formOf(big, Selection{}, &unused));
    Retiming steep;
    steep.kind = Retiming::Kind::Scale;
    steep.scale = Scale{MaxTimeMs, 1, -1};
    EXPECT_FALSE(formOf(steep, Selection{}, &unused));
}

TEST(ChangeForm, FractionsAndHeldEnds)
{
    const struct {
        const char* digits;
        int ms;  // -1: refused
    } fractions[] = {{"5", 500}, {"25", 250}, {"125", 125}, {"05", 50}, {"", 0}, {"1234", -1},
                     {"5a", -1}};
    for (const auto& f : fractions) {
        int ms = -1;
        EXPECT_EQ(parseFraction(f.digits, &ms) ? ms : -1, f.ms) << f.digits;
    }
    Retiming scale;
    scale.kind = Retiming::Kind::Scale;
    scale.scale = Scale{2, 1, -1000};  // times before 0:00:00,500 go below 0, late ones past the end
    HeldEnds both = heldEnds(scale, 0);
    EXPECT_TRUE(both.low && both.high);
    scale.scale = Scale{1001, 960, 0};
    HeldEnds late = heldEnds(scale, 0);
    EXPECT_TRUE(!late.low && late.high);
    HeldEnds early = heldEnds(Retiming{}, -5000);
    EXPECT_TRUE(early.low && !early.high);
    EXPECT_EQ(formatTime(MaxTimeMs), "99:59:59,999");
}
