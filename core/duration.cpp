// Parsing of the command-line tool's arguments.
#include "duration.h"

#include <cstdint>
#include <vector>

namespace chronelle {

static bool isDigit(char c) { return c >= '0' && c <= '9'; }

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

bool parseRange(const std::string& text, std::int64_t none, std::int64_t* first,
                std::int64_t* last)
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

}  // namespace chronelle
