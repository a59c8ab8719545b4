// Parsing of the command-line tool's arguments, and times written back in
// their forms.
#include "duration.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <numeric>
#include <vector>

namespace chronelle {

static bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The open end of a piece.
constexpr std::int64_t NoEnd = std::numeric_limits<std::int64_t>::max();

bool parseDuration(const std::string& text, Shift* shift)
{
    std::string whole = text;
    int ms = 0;
    std::size_t mark = text.find_first_of(".,");
    if (mark != std::string::npos) {
        std::string fraction = text.substr(mark + 1);
        if (fraction.empty() || fraction.size() > 3)
            return false;
        for (char c : fraction)
            if (!isDigit(c))
                return false;
        while (fraction.size() < 3)
            fraction += '0';
        ms = std::stoi(fraction);
        whole = text.substr(0, mark);
    }

    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        std::size_t colon = whole.find(':', from);
        fields.push_back(whole.substr(from, colon - from));
        if (colon == std::string::npos)
            break;
        from = colon + 1;
    }
    if (fields.size() > 3)
        return false;

    std::int64_t seconds = 0;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        // The first field is free (but bounded below); later ones are "SS".
        if (f.empty() || f.size() > 9 || (i > 0 && f.size() != 2))
            return false;
        for (char c : f)
            if (!isDigit(c))
                return false;
        int value = std::stoi(f);
        if (i > 0 && value > 59)
            return false;
        seconds = seconds * 60 + value;
    }
    if (seconds >= 100 * 3600)
        return false;
    shift->h = int(seconds / 3600);
    shift->m = int(seconds / 60 % 60);
    shift->s = int(seconds % 60);
    shift->ms = ms;
    return true;
}

bool parseTime(const std::string& text, std::int64_t* ms)
{
    Shift shift;
    if (!parseDuration(text, &shift))
        return false;
    *ms = toMilliseconds(shift);
    return true;
}

SyncError parseSync(const std::string& text, Scale* scale)
{
    // OLD1 "=" NEW1 "," OLD2 "=" NEW2, where a time may hold a comma of its own.
    std::size_t eq1 = text.find('='), eq2 = text.rfind('=');
    if (eq1 == std::string::npos || eq1 == eq2 || text.find('=', eq1 + 1) != eq2)
        return SyncError::Form;
    std::int64_t old1 = 0, new1 = 0, old2 = 0, new2 = 0;
    if (!parseTime(text.substr(0, eq1), &old1) || !parseTime(text.substr(eq2 + 1), &new2))
        return SyncError::Form;
    std::string middle = text.substr(eq1 + 1, eq2 - eq1 - 1);
    int readings = 0;
    for (std::size_t comma = middle.find(','); comma != std::string::npos;
         comma = middle.find(',', comma + 1)) {
        std::int64_t a, b;
        if (parseTime(middle.substr(0, comma), &a) && parseTime(middle.substr(comma + 1), &b)) {
            new1 = a;
            old2 = b;
            ++readings;
        }
    }
    if (readings == 0)
        return SyncError::Form;
    if (readings > 1)
        return SyncError::Ambiguous;
    return syncScale(old1, new1, old2, new2, scale);
}

SyncError syncScale(std::int64_t old1, std::int64_t new1, std::int64_t old2, std::int64_t new2,
                    Scale* scale)
{
    if (old1 == old2)
        return SyncError::SameOld;
    std::int64_t num = new2 - new1, den = old2 - old1;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    if (num <= 0)
        return SyncError::Reversed;
    scale->num = num;
    scale->den = den;
    scale->add = new1 * den - old1 * num;
    return SyncError::None;
}

// A frame rate as a fraction: N/D, or a decimal with '.' or ','.
static bool parseRate(std::string text, std::int64_t* num, std::int64_t* den)
{
    for (char& c : text)
        if (c == ',')
            c = '.';
    // The NTSC rates, as players and editors write them.
    const struct {
        const char* name;
        std::int64_t num;
    } ntsc[] = {{"23.976", 24000}, {"29.97", 30000}, {"47.952", 48000}, {"59.94", 60000}};
    for (const auto& r : ntsc)
        if (text == r.name) {
            *num = r.num;
            *den = 1001;
            return true;
        }
    std::size_t slash = text.find('/');
    std::size_t mark = slash == std::string::npos ? text.find('.') : slash;
    std::string whole = text.substr(0, mark);
    std::string rest = mark == std::string::npos ? "" : text.substr(mark + 1);
    // At most nine digits in all (a decimal) or on each side (N/D): the
    // products below stay within 64 bits.
    std::size_t digits = slash == std::string::npos ? whole.size() + rest.size()
                                                    : std::max(whole.size(), rest.size());
    if (whole.empty() || (mark != std::string::npos && rest.empty()) || digits > 9)
        return false;
    for (char c : whole + rest)
        if (!isDigit(c))
            return false;
    if (slash != std::string::npos) {
        *num = std::stoll(whole);
        *den = std::stoll(rest);
    } else {
        *num = std::stoll(whole + rest);
        *den = 1;
        for (std::size_t i = 0; i < rest.size(); ++i)
            *den *= 10;
    }
    return *num > 0 && *den > 0;
}

bool parseRates(const std::string& text, Scale* scale)
{
    std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    return parseRates(text.substr(0, colon), text.substr(colon + 1), scale);
}

bool parseRates(const std::string& from, const std::string& to, Scale* scale)
{
    std::int64_t fromNum, fromDen, toNum, toDen;
    if (!parseRate(from, &fromNum, &fromDen) || !parseRate(to, &toNum, &toDen))
        return false;
    // t * (fromNum / fromDen) / (toNum / toDen), reduced: the exact
    // arithmetic needs both below 2^31.
    std::int64_t num = fromNum * toDen, den = fromDen * toNum;
    std::int64_t g = std::gcd(num, den);
    num /= g;
    den /= g;
    if (num >= (std::int64_t(1) << 31) || den >= (std::int64_t(1) << 31))
        return false;
    scale->num = num;
    scale->den = den;
    scale->add = 0;
    return true;
}

// A position: 1 to 18 digits, not 0.
static bool parsePosition(const std::string& text, std::int64_t* value)
{
    if (text.empty() || text.size() > 18)
        return false;
    std::int64_t v = 0;
    for (char c : text) {
        if (!isDigit(c))
            return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return v > 0;
}

bool parseRange(const std::string& text, std::int64_t none, std::int64_t* first, std::int64_t* last)
{
    std::size_t dash = text.find('-');
    if (dash == std::string::npos) {
        if (!parsePosition(text, first))
            return false;
        *last = *first;
        return true;
    }
    std::string a = text.substr(0, dash), b = text.substr(dash + 1);
    if (a.empty() && b.empty())
        return false;
    *first = 1;
    *last = none;
    if (!a.empty() && !parsePosition(a, first))
        return false;
    if (!b.empty() && !parsePosition(b, last))
        return false;
    return *first <= *last;
}

// "+DURATION" or "-DURATION" as milliseconds.
static bool parseSigned(const std::string& text, std::int64_t* ms)
{
    Shift d;
    if (text.size() < 2 || (text[0] != '+' && text[0] != '-') || !parseDuration(text.substr(1), &d))
        return false;
    *ms = text[0] == '-' ? -toMilliseconds(d) : toMilliseconds(d);
    return true;
}

static bool parsePieceChange(const std::string& text, Scale* scale)
{
    std::size_t sign = text.find_first_of("+-");
    std::int64_t offset = 0;
    if (sign != std::string::npos && !parseSigned(text.substr(sign), &offset))
        return false;
    *scale = Scale{};
    if (sign != 0 && !parseRates(text.substr(0, sign), scale))
        return false;
    scale->add = offset * scale->den;
    return true;
}

PieceError parsePiece(const std::string& text, bool byCue, Piece* piece)
{
    std::size_t equals = text.find('=');
    std::size_t dash = text.find('-');
    if (equals == std::string::npos || (!byCue && dash > equals))
        return PieceError::Form;
    std::string range = text.substr(0, equals);
    Piece p;
    if (byCue) {
        std::int64_t last = 0;
        if (!parseRange(range, NoEnd, &p.from, &last))
            return range.find('-') == std::string::npos ? PieceError::Form : PieceError::Range;
        p.until = last == NoEnd ? NoEnd : last + 1;
    } else {
        std::string a = range.substr(0, dash), b = range.substr(dash + 1);
        if ((!a.empty() && !parseTime(a, &p.from)) || (!b.empty() && !parseTime(b, &p.until)))
            return PieceError::Form;
        if (p.until <= p.from)
            return PieceError::Range;
    }
    if (!parsePieceChange(text.substr(equals + 1), &p.scale))
        return PieceError::Change;
    *piece = p;
    return PieceError::None;
}

bool sortPieces(std::vector<Piece>& pieces)
{
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.from < b.from; });
    for (std::size_t i = 1; i < pieces.size(); ++i)
        if (pieces[i].from < pieces[i - 1].until)
            return false;
    return true;
}

std::string formatTime(std::int64_t ms, char mark)
{
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d%c%03d", static_cast<long long>(ms / 3600000),
                  int(ms / 60000 % 60), int(ms / 1000 % 60), mark, int(ms % 1000));
    return text;
}

std::string formatClock(std::int64_t ms)
{
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(ms / 3600000),
                  int(ms / 60000 % 60), int(ms / 1000 % 60));
    return text;
}

std::string formatSeconds(std::int64_t ms, char mark)
{
    char text[48];
    std::snprintf(text, sizeof text, "%lld%c%03d", static_cast<long long>(ms / 1000), mark,
                  int(ms % 1000));
    return text;
}

std::string formatOffset(std::int64_t ms)
{
    std::string s = formatSeconds(ms);
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

}  // namespace chronelle
