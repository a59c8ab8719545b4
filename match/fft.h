// libavutil's real FFT of one length, with its buffers: the one place the
// matcher calls av_tx. One for each thread that uses it.
#pragma once

#include <cstddef>

extern "C" {
#include <libavutil/tx.h>
}

namespace chronelle {

class Fft {
public:
    // `n` even. The inverse is scaled by 1 / n, so that forward then
    // inverse gives back what was put in.
    explicit Fft(int n);
    ~Fft();
    Fft(const Fft&) = delete;
    Fft& operator=(const Fft&) = delete;

    // False when libavutil could not set it up (out of memory).
    bool ready() const { return forward_ && inverse_ && real_ && spectrum_; }
    int size() const { return n_; }
    std::size_t bins() const { return std::size_t(n_ / 2 + 1); }
    float* real() { return real_; }                   // n values
    AVComplexFloat* spectrum() { return spectrum_; }  // bins() values

    // real() to spectrum(), and back.
    void forward();
    void inverse();

private:
    int n_;
    AVTXContext *forward_ = nullptr, *inverse_ = nullptr;
    av_tx_fn forwardFn_ = nullptr, inverseFn_ = nullptr;
    float* real_ = nullptr;
    AVComplexFloat* spectrum_ = nullptr;
};

}  // namespace chronelle
