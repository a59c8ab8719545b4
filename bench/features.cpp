// chronelle-features SOUND OUT [TRACK]: what the speech classifier sees of
// each 10 ms frame of a sound (SpeechFeatures floats a frame, native
// order), for training it offline (bench/voices/train.py).
#include <cstdio>
#include <cstdlib>

#include "sound.h"
#include "speech.h"

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: chronelle-features SOUND OUT [TRACK]\n");
        return 2;
    }
    chronelle::SoundOptions o;
    o.track = argc > 3 ? std::atoi(argv[3]) : 0;
    chronelle::Sound sound;
    chronelle::SoundResult r = chronelle::listen(argv[1], o, &sound);
    if (r.failure != chronelle::SoundFailure::None) {
        std::fprintf(stderr, "chronelle-features: %s: cannot listen (%d): %s\n", argv[1],
                     int(r.failure), r.detail.c_str());
        return 1;
    }
    std::vector<float> x = chronelle::speechFeatures(sound.bands);
    std::FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(x.data(), sizeof(float), x.size(), f) != x.size() ||
        std::fclose(f) != 0) {
        std::fprintf(stderr, "chronelle-features: cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%lld frames\n", static_cast<long long>(sound.frames));
    return 0;
}
