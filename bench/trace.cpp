// chronelle-match-trace [--track N] [--splits] FILM|REF.srt SUBTITLE...: what
// the matcher weighs for each subtitle file, as one JSON object a line: the
// evidence behind its confidence, for studying and calibrating it offline.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "match.h"

int main(int argc, char** argv)
{
    chronelle::MatchOptions o;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (!std::strcmp(argv[i], "--track") && i + 1 < argc)
            o.track = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--splits"))
            o.splits = true;
    }
    if (argc - i < 2) {
        std::fprintf(stderr,
                     "usage: chronelle-match-trace [--track N] [--splits] FILM SUBTITLE...\n");
        return 2;
    }
    chronelle::Reference r = chronelle::loadReference(argv[i], o);
    if (r.failure != chronelle::ReferenceFailure::None) {
        std::fprintf(stderr, "chronelle-match-trace: %s: cannot use it (%d)\n", argv[i],
                     int(r.failure));
        return 1;
    }
    for (int k = i + 1; k < argc; ++k) {
        chronelle::CuesResult c = chronelle::readCues(argv[k]);
        if (c.failure != chronelle::CuesFailure::None || c.cues.empty()) {
            std::printf("{\"file\": \"%s\", \"error\": \"cues\"}\n", argv[k]);
            continue;
        }
        chronelle::Found f = chronelle::matchCues(r, c.cues, o);
        const chronelle::Alignment& a = f.alignment;
        std::printf(
            "{\"file\": \"%s\", \"fit\": %d, \"scale\": %.9f, \"offset_ms\": %.3f, \"track\": %d, "
            "\"audio\": %d, \"from\": %d, \"to\": %d, \"drift\": %d, \"cues\": %zu, \"agree\": %zu, "
            "\"chance\": %.3f, \"confidence\": %.4f, \"doubt\": %d, \"kind\": %d, \"change\": \"%s %s\", "
            "\"pieces\": %zu, \"rivals\": [",
            argv[k], int(a.fit), a.mapping.scale, a.mapping.offsetMs, a.track,
            r.tracks.empty() ? 0 : r.tracks[std::size_t(a.track)].audio, a.from, a.to, int(a.drift),
            a.cues, a.agree, a.chance, f.confidence, int(f.doubt), int(f.kind), f.mode.c_str(),
            f.text.c_str(), f.pieces.size());
        for (std::size_t j = 0; j < a.rivals.size(); ++j) {
            const chronelle::Rival& v = a.rivals[j];
            std::printf(
                "%s{\"scale\": %.9f, \"offset_ms\": %.3f, \"agree\": %zu, \"for\": %zu, \"best_for\": %zu, "
                "\"margin\": %.2f}",
                j ? ", " : "", v.mapping.scale, v.mapping.offsetMs, v.agree, v.agreeFor, v.bestFor,
                v.margin());
        }
        // The change as chronelle-shift's arguments (none: in time).
        std::printf("], \"args\": [");
        std::vector<std::string> args;
        if (f.pieces.empty() && f.kind != chronelle::ChangeKind::InTime)
            args = {f.mode, f.text};
        for (const std::string& p : f.pieces)
            args.insert(args.end(), {f.mode, p});
        for (std::size_t j = 0; j < args.size(); ++j)
            std::printf("%s\"%s\"", j ? ", " : "", args[j].c_str());
        std::printf("]}\n");
    }
    return 0;
}
