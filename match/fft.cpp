// The FFT through libavutil's av_tx.
#include "fft.h"

extern "C" {
#include <libavutil/mem.h>
}

namespace chronelle {

Fft::Fft(int n) : n_(n)
{
    float one = 1.0f, inverse = 1.0f / float(n);
    av_tx_init(&forward_, &forwardFn_, AV_TX_FLOAT_RDFT, 0, n, &one, 0);
    av_tx_init(&inverse_, &inverseFn_, AV_TX_FLOAT_RDFT, 1, n, &inverse, 0);
    // Two more than n: the inverse transform may write that far.
    real_ = static_cast<float*>(av_malloc(sizeof(float) * std::size_t(n + 2)));
    spectrum_ = static_cast<AVComplexFloat*>(av_malloc(sizeof(AVComplexFloat) * bins()));
}

Fft::~Fft()
{
    av_tx_uninit(&forward_);
    av_tx_uninit(&inverse_);
    av_free(real_);
    av_free(spectrum_);
}

void Fft::forward()
{
    forwardFn_(forward_, spectrum_, real_, sizeof(float));
    // libavutil 57 leaves the imaginary part of the last bin unwritten; for a
    // real signal it is 0.
    spectrum_[n_ / 2].im = 0;
}

void Fft::inverse() { inverseFn_(inverse_, real_, spectrum_, sizeof(AVComplexFloat)); }

}  // namespace chronelle
