// The language, the catalogue found from the program's own place, and the
// words and commands shared by chronelle-shift's messages.
#include "words.h"

#include <algorithm>
#include <clocale>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef CHRONELLE_NLS
const char* const Domain = "chronelle";
#endif

std::string decimalMark = ".";

#if !defined(CHRONELLE_NLS)
void bindCatalogue() {}
#elif defined(_WIN32)
// share\locale beside bin\, where the zip puts it.
void bindCatalogue()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir(self, n > 0 && n < MAX_PATH ? n : 0);
    for (int up = 0; up < 2 && dir.rfind(L'\\') != std::wstring::npos; ++up)
        dir.erase(dir.rfind(L'\\'));
    wbindtextdomain(Domain, (dir + L"\\share\\locale").c_str());
    // File names come in UTF-8 (read from the wide command line): the
    // messages too, rather than in the ANSI code page.
    bind_textdomain_codeset(Domain, "UTF-8");
    textdomain(Domain);
}
#else
// Seen from the program as the kernel tells its place (an installation moved
// elsewhere, the build tree), else where it was installed.
void bindCatalogue()
{
    std::string dir = programFolder();
    bindtextdomain(Domain, dir.empty() ? CHRONELLE_LOCALEDIR
                                       : (dir + CHRONELLE_LOCALEDIR_FROM_PROGRAM).c_str());
    textdomain(Domain);
}
#endif

#ifdef _WIN32
UINT consoleBefore = 0;

void restoreConsole() { SetConsoleOutputCP(consoleBefore); }

// What is printed is UTF-8 (the file names, the messages): a console shows
// it as such while the program runs, and gets its own code page back after.
void consoleInUtf8()
{
    consoleBefore = GetConsoleOutputCP();
    if (consoleBefore != 0 && consoleBefore != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsole);
}
#endif

std::string vformat(const char* form, va_list args)
{
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, form, args);
    std::string s(n > 0 ? std::size_t(n) + 1 : 1, '\0');
    if (n > 0)
        std::vsnprintf(&s[0], s.size(), form, again);
    va_end(again);
    s.resize(n > 0 ? std::size_t(n) : 0);
    return s;
}

}  // namespace

#ifndef _WIN32
std::string programFolder()
{
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0 || self[0] != '/')
        return "";
    std::string path(self, std::size_t(n));
    return path.substr(0, path.rfind('/') + 1);
}
#endif

unsigned long plural(std::int64_t n)
{
    return (unsigned long)(n > 1000000 ? n % 1000000 + 1000000 : std::max<std::int64_t>(n, 0));
}

void startLanguage()
{
    // Unqualified: on Windows libintl.h makes it its own, which takes the
    // language from LANG and its kin as gettext does.
    setlocale(LC_ALL, "");
    const char* mark = std::localeconv()->decimal_point;
    decimalMark = mark && *mark ? mark : ".";
    setlocale(LC_NUMERIC, "C");
    bindCatalogue();
#ifdef _WIN32
    consoleInUtf8();
#endif
}

std::string format(const char* form, ...)
{
    va_list args;
    va_start(args, form);
    std::string s = vformat(form, args);
    va_end(args);
    return s;
}

void complain(const char* form, ...)
{
    va_list args;
    va_start(args, form);
    std::string s = vformat(form, args);
    va_end(args);
    // TRANSLATORS: the start of every message on standard error.
    std::fputs(format(_("chronelle-shift: %s\n"), s.c_str()).c_str(), stderr);
}

std::string decimal(double value, int digits) { return decimal(format("%.*f", digits, value)); }

std::string decimal(const std::string& number)
{
    std::string s = number;
    std::size_t dot = s.find('.');
    if (dot != std::string::npos)
        s.replace(dot, 1, decimalMark);
    return s;
}

std::string shellWord(const std::string& word)
{
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789_./:,=+@%-") == std::string::npos)
        return word;
    std::string q = "'";
    for (char c : word)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string shiftCommand(const std::vector<std::string>& change, const Options& o,
                         const std::string& cues, const std::string& path)
{
    std::string c = "chronelle-shift";
    for (const std::string& word : change)
        c += " " + shellWord(word);
    if (!o.from.empty())
        c += " --from " + shellWord(o.from);
    if (!o.until.empty())
        c += " --until " + shellWord(o.until);
    if (!cues.empty())
        c += " --cues " + cues;
    if (!o.shift.probeFirst)
        c += " --force";
    if (!o.shift.sync)
        c += " --no-sync";
    return c + (path[0] == '-' ? " -- " : " ") + shellWord(path);
}

void sayRefused(const char* path, const chronelle::ProbeResult& probe)
{
    if (probe.utf16) {
        complain(_("%s: looks like UTF-16, which is not supported; left untouched"), path);
        return;
    }
    complain(
        ngettext("%s: not a subtitle file (%d timing line in its first %d lines, %d needed); left "
                 "untouched, --force shifts it anyway",
                 "%s: not a subtitle file (%d timing lines in its first %d lines, %d needed); left "
                 "untouched, --force shifts it anyway",
                 plural(probe.timingLines)),
        path, probe.timingLines, chronelle::ProbeLines, chronelle::ProbeRequired);
}
