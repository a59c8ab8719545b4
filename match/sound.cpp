// Decoding a film's audio track with libavformat, libavcodec and
// libswresample, down to 8 kHz mono, and the level of each band of every
// 10 ms frame with libavutil's FFT. Two halves of the film are decoded at
// once, each by its own decoder, when the film says how long it is.
#include "sound.h"

#include <algorithm>
#include <cmath>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include "fft.h"
#include "file_io.h"
#include "stop.h"
#include "threads.h"

namespace chronelle {

namespace {

constexpr int Rate = 8000;
constexpr int Hop = Rate * FrameMs / 1000;  // samples per frame
constexpr int Window = 256;                 // samples analysed per frame
constexpr std::int64_t Unknown = INT64_MAX;
constexpr double Pi = 3.14159265358979323846;

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The FFT bins of each band: 150 Hz to 3.8 kHz, spaced evenly in pitch.
struct BandBins {
    int from[Bands], to[Bands];
    BandBins()
    {
        int bin = int(150.0 * Window / Rate);
        for (int b = 0; b < Bands; ++b) {
            double edge = 150 * std::pow(3800.0 / 150, double(b + 1) / Bands);
            from[b] = bin;
            bin = std::max(bin + 1, int(std::lround(edge * Window / Rate)));
            to[b] = bin;
        }
    }
};

const BandBins bins;

// Turns samples into band levels, frame after frame. Frame k is the
// Window samples centred on the middle of its 10 ms.
class Analyzer {
public:
    Analyzer() : fft_(Window)
    {
        double sum = 0;
        for (int i = 0; i < Window; ++i) {
            window_[i] = float(0.5 - 0.5 * std::cos(2 * Pi * (i + 0.5) / Window));
            sum += window_[i];
        }
        norm_ = float(1.0 / (sum * sum));
    }
    bool ready() const { return fft_.ready(); }

    Analyzer(const Analyzer&) = delete;
    Analyzer& operator=(const Analyzer&) = delete;

    // Frames from `first` on are kept; earlier ones are only worked out.
    void keepFrom(std::int64_t first) { keep_ = first; }
    std::int64_t nextFrame() const { return next_; }
    // The frame of levels()[0].
    std::int64_t firstKept() const { return first_; }
    std::vector<std::uint8_t>& levels() { return levels_; }
    void reserve(std::int64_t frames)
    {
        levels_.reserve(std::size_t(std::max<std::int64_t>(frames, 0)) * Bands);
    }

    // `n` samples that begin at sample `at` of the film. Frames from
    // `stopFrame` on are left to someone else.
    void push(const float* s, std::int64_t n, std::int64_t at, std::int64_t stopFrame)
    {
        if (!started_) {
            started_ = true;
            start_ = at;
            next_ = at / Hop;
        }
        std::int64_t end = start_ + std::int64_t(buf_.size());
        if (at > end + Rate * 10) {  // a jump: the frames skipped stay silent
            buf_.clear();
            start_ = end = at;
            next_ = std::max(next_, at / Hop);
        } else if (at > end) {  // a gap: silence
            buf_.insert(buf_.end(), std::size_t(at - end), 0.0f);
            end = at;
        }
        std::int64_t skip = end - at;  // samples already had
        if (skip < n)
            buf_.insert(buf_.end(), s + skip, s + n);
        end = start_ + std::int64_t(buf_.size());
        while (next_ < stopFrame && next_ * Hop + Hop / 2 + Window / 2 <= end) {
            frame(next_);
            ++next_;
        }
        std::int64_t keep = next_ * Hop + Hop / 2 - Window / 2;  // first sample still needed
        if (keep - start_ > Rate) {
            buf_.erase(buf_.begin(), buf_.begin() + (keep - start_));
            start_ = keep;
        }
    }

    // The end of the sound: the frames whose middle it holds, the rest of
    // their windows silent.
    void finish()
    {
        std::int64_t end = start_ + std::int64_t(buf_.size());
        while (started_ && next_ * Hop + Hop / 2 < end) {
            frame(next_);
            ++next_;
        }
    }

private:
    void frame(std::int64_t k)
    {
        std::int64_t from = k * Hop + Hop / 2 - Window / 2;
        for (int i = 0; i < Window; ++i) {
            std::int64_t j = from + i - start_;
            fft_.real()[i] =
                j >= 0 && j < std::int64_t(buf_.size()) ? buf_[std::size_t(j)] * window_[i] : 0;
        }
        fft_.forward();
        const AVComplexFloat* out = fft_.spectrum();
        if (k < keep_)
            return;
        if (levels_.empty())
            first_ = k;
        // A frame that jumped ahead leaves the frames between it silent.
        std::size_t at = std::size_t(k - first_) * Bands;
        if (levels_.size() < at)
            levels_.resize(at, 0);
        for (int b = 0; b < Bands; ++b) {
            float p = 0;
            for (int i = bins.from[b]; i < bins.to[b]; ++i)
                p += out[i].re * out[i].re + out[i].im * out[i].im;
            double db = 10 * std::log10(double(p * norm_) + 1e-30);
            levels_.push_back(std::uint8_t(std::clamp((db - LevelFloorDb) * 2, 0.0, 255.0)));
        }
    }

    Fft fft_;
    float window_[Window];
    float norm_ = 1;
    std::vector<float> buf_;  // samples from start_ on
    std::int64_t start_ = 0;
    bool started_ = false;
    std::int64_t next_ = 0;   // the next frame to work out
    std::int64_t keep_ = 0;   // frames before it are not kept
    std::int64_t first_ = 0;  // the first frame kept
    std::vector<std::uint8_t> levels_;
};

// A film's container, its audio decoder and resampler: each half of the
// film has its own.
struct Decoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    std::int64_t origin = 0;  // the film's start, in the stream's time base
    AVChannelLayout inLayout{};
    int inRate = 0, inFormat = -1;
    bool centre = false;        // a front centre channel, heard on its own too
    bool twoOut = false;        // the resampler gives the centre alone as well
    std::vector<float> mono;    // the whole sound, mixed down
    std::vector<float> middle;  // the front centre alone, where films put speech

    ~Decoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&swr);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        av_channel_layout_uninit(&inLayout);
    }
};

// The audio track: the Nth (from 1), or the one the film marks as its
// default; the others are not even read.
SoundFailure findTrack(int track, Decoder& d, Sound* sound)
{
    std::vector<int> audio;
    for (unsigned i = 0; i < d.format->nb_streams; ++i)
        if (d.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            audio.push_back(int(i));
    sound->tracks = int(audio.size());
    if (audio.empty())
        return SoundFailure::NoAudio;
    if (track > int(audio.size()))
        return SoundFailure::NoSuchTrack;
    d.stream = track > 0 ? audio[std::size_t(track - 1)]
                         : av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (d.stream < 0)
        d.stream = audio[0];
    sound->track = int(std::find(audio.begin(), audio.end(), d.stream) - audio.begin()) + 1;
    for (unsigned i = 0; i < d.format->nb_streams; ++i)
        d.format->streams[i]->discard = int(i) == d.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream* st = d.format->streams[d.stream];
    if (d.format->start_time != AV_NOPTS_VALUE)
        d.origin = av_rescale_q(d.format->start_time, AV_TIME_BASE_Q, st->time_base);
    // A length guessed from the bit rate is no promise: it cannot tell a
    // truncated file.
    if (d.format->duration != AV_NOPTS_VALUE && d.format->duration > 0 &&
        d.format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        sound->statedMs = d.format->duration / 1000;
    return SoundFailure::None;
}

SoundResult openDecoder(Decoder& d, Sound* sound)
{
    SoundResult r;
    AVStream* st = d.format->streams[d.stream];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    sound->codec = avcodec_get_name(st->codecpar->codec_id);
    d.codec = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!d.codec || avcodec_parameters_to_context(d.codec, st->codecpar) < 0) {
        r.failure = SoundFailure::Decoder;
        r.detail = "no decoder for " + sound->codec;
        return r;
    }
    d.codec->pkt_timebase = st->time_base;
    d.codec->thread_count = 1;
    // A film's speech is mostly in its front centre channel: heard alone too,
    // it holds even under loud music. Without one, AC-3 and DTS decoders
    // mix down to one channel themselves, for less work. The core of DTS is
    // enough to hear who speaks.
    const AVChannelLayout& layout = st->codecpar->ch_layout;
    d.centre = layout.nb_channels >= 3 &&
               av_channel_layout_index_from_channel(&layout, AV_CHAN_FRONT_CENTER) >= 0;
    AVDictionary* options = nullptr;
    if (!d.centre)
        av_dict_set(&options, "downmix", "mono", 0);
    av_dict_set(&options, "core_only", "1", 0);
    int e = avcodec_open2(d.codec, codec, &options);
    av_dict_free(&options);
    d.packet = av_packet_alloc();
    d.frame = av_frame_alloc();
    if (e < 0 || !d.packet || !d.frame) {
        r.failure = SoundFailure::Decoder;
        r.detail = e < 0 ? avError(e) : "out of memory";
    }
    return r;
}

// FFmpeg asks this while it waits on the film (opening it, reading it):
// a stop flag or signal ends the wait at once.
int interrupted(void* stop)
{
    const std::atomic<bool>* flag = static_cast<const std::atomic<bool>*>(stop);
    return (flag && flag->load()) || stopSignal() != 0;
}

// Opens the film, its audio track and a decoder for it.
SoundResult openFilm(const std::string& path, int track, const std::atomic<bool>* stop, Decoder& d,
                     Sound* sound)
{
    SoundResult r;
    d.format = avformat_alloc_context();
    if (!d.format) {
        r.failure = SoundFailure::Open;
        r.detail = "out of memory";
        return r;
    }
    d.format->interrupt_callback.callback = interrupted;
    d.format->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(stop);
    int e = avformat_open_input(&d.format, path.c_str(), nullptr, nullptr);
    if (e >= 0)
        e = avformat_find_stream_info(d.format, nullptr);
    if (e < 0) {
        r.failure = interrupted(const_cast<std::atomic<bool>*>(stop)) ? SoundFailure::Stopped
                                                                      : SoundFailure::Open;
        r.signal = stopSignal();
        r.detail = avError(e);
        return r;
    }
    r.failure = findTrack(track, d, sound);
    return r.failure == SoundFailure::None ? openDecoder(d, sound) : r;
}

// The resampler for the frame's layout: one channel, the whole sound mixed
// down; and, with a front centre, a second one that holds it alone.
bool setResampler(Decoder& d)
{
    AVFrame* f = d.frame;
    swr_free(&d.swr);
    int centre = av_channel_layout_index_from_channel(&f->ch_layout, AV_CHAN_FRONT_CENTER);
    bool both = d.centre && centre >= 0 && f->ch_layout.nb_channels >= 3;
    AVChannelLayout out, mono;
    av_channel_layout_default(&out, both ? 2 : 1);
    av_channel_layout_default(&mono, 1);
    if (swr_alloc_set_opts2(&d.swr, &out, AV_SAMPLE_FMT_FLTP, Rate, &f->ch_layout,
                            AVSampleFormat(f->format), f->sample_rate, 0, nullptr) < 0)
        return false;
    // A short filter: what is listened for lies well below 4 kHz.
    av_opt_set_int(d.swr, "filter_size", 8, 0);
    if (both) {
        // The usual mix down to one channel, in a matrix as large as any
        // libswresample makes (it writes rows far past the ones asked for),
        // then the front centre alone below it.
        int n = f->ch_layout.nb_channels;
        std::vector<double> mixed(64 * 64, 0.0), matrix(2 * std::size_t(n), 0.0);
        if (swr_build_matrix2(&f->ch_layout, &mono, 0.7071, 0.7071, 0, 1, 1, mixed.data(), 64,
                              AV_MATRIX_ENCODING_NONE, nullptr) < 0)
            return false;
        std::copy(mixed.begin(), mixed.begin() + n, matrix.begin());
        matrix[std::size_t(n + centre)] = 1;
        if (swr_set_matrix(d.swr, matrix.data(), n) < 0)
            return false;
    }
    if (swr_init(d.swr) < 0)
        return false;
    d.twoOut = both;
    d.inRate = f->sample_rate;
    d.inFormat = f->format;
    av_channel_layout_uninit(&d.inLayout);
    av_channel_layout_copy(&d.inLayout, &f->ch_layout);
    return true;
}

// Float samples at 8 kHz from a decoded frame: in d.mono, and the front
// centre's in d.middle when there is one.
bool resample(Decoder& d)
{
    AVFrame* f = d.frame;
    if (!d.swr || f->sample_rate != d.inRate || f->format != d.inFormat ||
        av_channel_layout_compare(&f->ch_layout, &d.inLayout) != 0) {
        if (!setResampler(d))
            return false;
    }
    bool both = d.twoOut;
    int room = std::max(swr_get_out_samples(d.swr, f->nb_samples), 1);
    d.mono.resize(std::size_t(room));
    d.middle.resize(both ? std::size_t(room) : 0);
    std::uint8_t* out[2] = {reinterpret_cast<std::uint8_t*>(d.mono.data()),
                            reinterpret_cast<std::uint8_t*>(d.middle.data())};
    int n = swr_convert(d.swr, out, room, const_cast<const std::uint8_t**>(f->extended_data),
                        f->nb_samples);
    d.mono.resize(std::size_t(std::max(n, 0)));
    d.middle.resize(both ? d.mono.size() : 0);
    return n >= 0;
}

// What the two halves share: where the second begins, how far each got,
// the progress shown and the stop flag.
struct Shared {
    const SoundOptions* options = nullptr;
    std::atomic<std::int64_t> boundary{Unknown};  // the second half's first frame
    std::atomic<std::int64_t> done[2]{};          // frames each half has worked out
    std::atomic<int> shownPercent{-1};
    std::atomic_flag reporting = ATOMIC_FLAG_INIT;
    std::int64_t expectedFrames = 0;
    std::atomic<bool> stopped{false};
    std::atomic<int> signal{0};

    bool stop()
    {
        if (options->stop && options->stop->load())
            stopped = true;
        if (int sig = stopSignal()) {
            signal = sig;
            stopped = true;
        }
        return stopped;
    }

    // Each whole percent once, from whichever half gets there first; never
    // two calls at once.
    void progress()
    {
        if (!options->progress || expectedFrames <= 0)
            return;
        double f = double(done[0] + done[1]) / double(expectedFrames);
        int percent = int(std::min(f, 0.99) * 100);
        if (percent <= shownPercent || reporting.test_and_set())
            return;
        if (percent > shownPercent) {
            shownPercent = percent;
            options->progress(ProgressStep{Stage::Listening, percent / 100.0}, options->user);
        }
        reporting.clear();
    }
};

struct Half {
    std::string path;
    int track = 0;
    bool second = false;
    std::int64_t fromFrame = 0;  // the second half: where it should begin
    Shared* shared = nullptr;
    Sound sound;
    SoundResult result;
    Analyzer analyzer, centre;
};

// Gives the decoder the next packet of the track, or tells it the film has
// ended; false once it has.
bool feed(Decoder& d)
{
    for (;;) {
        int e = av_read_frame(d.format, d.packet);
        if (e == AVERROR(EAGAIN))
            continue;
        if (e < 0) {
            avcodec_send_packet(d.codec, nullptr);
            return false;
        }
        // A damaged packet is passed over, as players do.
        if (d.packet->stream_index == d.stream)
            avcodec_send_packet(d.codec, d.packet);
        av_packet_unref(d.packet);
        return true;
    }
}

// Where the decoded frame's samples go in the film, from its timestamp.
std::int64_t placeOf(const Decoder& d, std::int64_t expected)
{
    std::int64_t pts = d.frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        return expected;
    AVStream* st = d.format->streams[d.stream];
    std::int64_t at = av_rescale_q(pts - d.origin, st->time_base, AVRational{1, Rate});
    // Timestamps jitter by a few samples; only a real gap or jump counts.
    return expected >= 0 && std::llabs(at - expected) < Rate / 20 ? expected : at;
}

// Takes the frames the decoder has ready; false at the end of the film.
bool takeFrames(Half& h, Decoder& d, std::int64_t& expected, std::int64_t stopFrame)
{
    Shared& s = *h.shared;
    for (;;) {
        int e = avcodec_receive_frame(d.codec, d.frame);
        if (e == AVERROR_EOF)
            return false;
        if (e < 0)
            return true;
        std::int64_t at = placeOf(d, expected);
        if (resample(d)) {
            // What comes before the film's start is not the film's.
            std::int64_t n = std::int64_t(d.mono.size()),
                         skip = std::min(n, std::max<std::int64_t>(0, -at));
            if (n > skip)
                h.analyzer.push(d.mono.data() + skip, n - skip, at + skip, stopFrame);
            if (n > skip && !d.middle.empty())
                h.centre.push(d.middle.data() + skip, n - skip, at + skip, stopFrame);
            expected = at + n;
        }
        av_frame_unref(d.frame);
        std::int64_t kept = std::int64_t(h.analyzer.levels().size() / Bands);
        s.done[h.second] = kept;
        if (h.second && kept > 0 && s.boundary == Unknown)
            s.boundary = h.analyzer.firstKept();
        s.progress();
    }
}

// Decodes until the end, the stop, or (the first half) the frame where the
// second half began.
void decode(Half& h, Decoder& d)
{
    Shared& s = *h.shared;
    std::int64_t expected = -1;  // the sample that should come next
    bool more = true;
    for (;;) {
        if (s.stop())
            return;
        std::int64_t stopFrame = h.second ? Unknown : s.boundary.load();
        if (h.analyzer.nextFrame() >= stopFrame)
            return;
        if (more)
            more = feed(d);
        if (!takeFrames(h, d, expected, stopFrame) || !more) {
            h.analyzer.finish();
            h.centre.finish();
            return;
        }
    }
}

void runHalf(void* p)
{
    Half& h = *static_cast<Half*>(p);
    Decoder d;
    h.result = openFilm(h.path, h.track, h.shared->options->stop, d, &h.sound);
    if (h.result.failure != SoundFailure::None)
        return;
    if (!h.analyzer.ready()) {
        h.result.failure = SoundFailure::Decoder;
        h.result.detail = "no FFT";
        return;
    }
    if (h.second) {
        // From a little before the middle: the decoder needs a few frames
        // before it gives what the film holds.
        AVStream* st = d.format->streams[d.stream];
        std::int64_t ms = std::max<std::int64_t>(0, h.fromFrame * FrameMs - 2000);
        std::int64_t ts = d.origin + av_rescale_q(ms, AVRational{1, 1000}, st->time_base);
        if (av_seek_frame(d.format, d.stream, ts, AVSEEK_FLAG_BACKWARD) < 0)
            return;  // the first half goes on to the end
        h.analyzer.keepFrom(h.fromFrame);
        h.centre.keepFrom(h.fromFrame);
    }
    decode(h, d);
}

// The two halves in one: the first up to where the second began, then the
// second, each frame where it belongs; frames that neither had are silent.
std::vector<std::uint8_t> join(Analyzer& first, Analyzer& second, bool both)
{
    // The first half's levels have room for the whole film: taken as they
    // are, the second's are added without a copy of the first.
    std::vector<std::uint8_t> out = std::move(first.levels());
    out.insert(out.begin(), std::size_t(first.firstKept()) * Bands, 0);
    std::vector<std::uint8_t>& b = second.levels();
    if (both && !b.empty()) {
        out.resize(std::size_t(second.firstKept()) * Bands, 0);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

}  // namespace

SoundResult listen(const std::string& path, const SoundOptions& options, Sound* sound)
{
    // What goes wrong is told in the result; FFmpeg's own notes on stderr
    // would only get in the way.
    av_log_set_level(AV_LOG_QUIET);
    // Opened once here for what the film says of itself: how long it is,
    // for the progress and for the halves.
    bool centre = false;
    {
        // Only a regular file: a FIFO or a device would hold the open, or
        // the reading, for as long as it pleases.
        SoundResult r;
        int errnum = 0;
        PathKind kind = pathKind(path, &errnum);
        if (kind == PathKind::Directory || kind == PathKind::Other) {
            r.failure = SoundFailure::NotRegular;
            return r;
        }
        Decoder d;
        r = openFilm(path, options.track, options.stop, d, sound);
        if (r.failure != SoundFailure::None)
            return r;
        centre = d.centre;
    }
    Shared shared;
    shared.options = &options;
    shared.expectedFrames = sound->statedMs / FrameMs;
    std::unique_ptr<Half> first(new Half), second(new Half);
    for (Half* h : {first.get(), second.get()}) {
        h->path = path;
        h->track = options.track;
        h->shared = &shared;
    }
    second->second = true;
    second->fromFrame = shared.expectedFrames / 2;
    first->analyzer.reserve(shared.expectedFrames + 100);
    if (centre)
        first->centre.reserve(shared.expectedFrames + 100);
    // Halves pay for a second opening and decoder only on a long film.
    if (options.bothCores && sound->statedMs >= 60000)
        runBoth(runHalf, second.get(), runHalf, first.get());
    else
        runHalf(first.get());

    SoundResult r = first->result;
    if (shared.stopped) {
        r.failure = SoundFailure::Stopped;
        r.signal = shared.signal;
    }
    if (r.failure != SoundFailure::None)
        return r;
    bool both = shared.boundary != Unknown;
    sound->bands = join(first->analyzer, second->analyzer, both);
    sound->frames = std::int64_t(sound->bands.size() / Bands);
    if (!first->centre.levels().empty()) {
        sound->centre = join(first->centre, second->centre, both);
        sound->centre.resize(sound->bands.size(), 0);
    }
    std::int64_t heardMs = sound->frames * FrameMs;
    if (sound->statedMs > 0 && heardMs < sound->statedMs * 95 / 100 - 2000) {
        r.failure = SoundFailure::Truncated;
    }
    if (options.progress && r.failure == SoundFailure::None)
        options.progress(ProgressStep{Stage::Listening, 1.0}, options.user);
    return r;
}

}  // namespace chronelle
