// What chronelle-shift says, in the user's language (gettext; English in the
// C locale, for scripts), and the commands it prints, which a shell reads
// back the same in every language.
#pragma once

#ifdef CHRONELLE_NLS
#include <libintl.h>
#ifdef __MINGW32__
// libintl.h puts its own printf family in the place of the C library's, for
// translations that reorder their arguments (%1$s): none of ours does, and
// its macros would turn std::printf into what does not exist.
#undef fprintf
#undef vfprintf
#undef printf
#undef vprintf
#undef sprintf
#undef vsprintf
#undef snprintf
#undef vsnprintf
#endif
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "options.h"
#include "probe.h"

#ifndef CHRONELLE_NLS
// Built without libintl (a cross build without its libraries): English.
__attribute__((format_arg(1))) inline const char* gettext(const char* text) { return text; }
__attribute__((format_arg(1), format_arg(2))) inline const char* ngettext(const char* one,
                                                                          const char* many,
                                                                          unsigned long n)
{
    return n == 1 ? one : many;
}
#endif

#define _(text) gettext(text)
#define N_(text) text

#if defined(__MINGW32__)
#define CHRONELLE_PRINTF(form, args) __attribute__((format(gnu_printf, form, args)))
#else
#define CHRONELLE_PRINTF(form, args) __attribute__((format(printf, form, args)))
#endif

// Takes the language from the environment (on Windows, the user's own) and
// finds the messages beside the program. Numbers that are read back (in
// options and commands) keep the C locale's '.'.
void startLanguage();

// A count as ngettext takes it (an unsigned long, of 32 bits on Windows):
// past a million, what the grammar of any language needs of it.
unsigned long plural(std::int64_t n);

#ifndef _WIN32
// The folder of this program as the kernel tells it, with its final '/';
// empty when it cannot (no /proc).
std::string programFolder();
#endif

// printf into a string.
std::string format(const char* form, ...) CHRONELLE_PRINTF(1, 2);

// Says on standard error "chronelle-shift: " and the message.
void complain(const char* form, ...) CHRONELLE_PRINTF(1, 2);

// A number for people to read: `value` with `digits` decimals and the
// language's decimal mark ("2.48", "2,48"); and the same mark put into a
// number written with '.' ("23.976").
std::string decimal(double value, int digits);
std::string decimal(const std::string& number);

// An argument as a shell reads it back: quoted unless it is plainly safe.
std::string shellWord(const std::string& word);

// The chronelle-shift command that makes `change` (its options and their
// values) to `path`, with --cues `cues` when given and the options of `o`
// that go with a change: --from, --until, --force, --no-sync.
std::string shiftCommand(const std::vector<std::string>& change, const Options& o,
                         const std::string& cues, const std::string& path);

// Says why the probe refused the file at `path`: UTF-16, or not a subtitle
// file.
void sayRefused(const char* path, const chronelle::ProbeResult& probe);
