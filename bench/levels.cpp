// chronelle-levels FILM OUT [TRACK]: the band levels the matcher hears in a
// film's sound (Bands bytes per 10 ms frame, the mix then, for a film with a
// front centre, the centre alone in OUT.centre), for training and studying
// the speech detector offline.
#include <cstdio>
#include <cstdlib>

#include "sound.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: chronelle-levels FILM OUT [TRACK]\n");
        return 2;
    }
    chronelle::SoundOptions o;
    o.track = argc > 3 ? std::atoi(argv[3]) : 0;
    chronelle::Sound sound;
    chronelle::SoundResult r = chronelle::listen(argv[1], o, &sound);
    if (r.failure != chronelle::SoundFailure::None) {
        std::fprintf(stderr, "chronelle-levels: %s: cannot listen (%d): %s\n", argv[1],
                     int(r.failure), r.detail.c_str());
        return 1;
    }
    std::string out = argv[2];
    for (const auto& [name, levels] :
         {std::pair{out, &sound.bands}, std::pair{out + ".centre", &sound.centre}}) {
        if (levels->empty())
            continue;
        std::FILE* f = std::fopen(name.c_str(), "wb");
        if (!f || std::fwrite(levels->data(), 1, levels->size(), f) != levels->size() ||
            std::fclose(f) != 0) {
            std::fprintf(stderr, "chronelle-levels: cannot write %s\n", name.c_str());
            return 1;
        }
    }
    std::printf("%lld frames, track %d of %d, %s, %d channels\n",
                static_cast<long long>(sound.frames), sound.track, sound.tracks,
                sound.codec.c_str(), sound.channels);
    return 0;
}
