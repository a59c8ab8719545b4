/* Proof of the FFmpeg libraries built for Windows, run under Wine by
 * windows/test.sh: decodes the default audio track of a film, streams it to
 * mono at 16 kHz through libswresample, and finds the loudest frequency of
 * its first half second with libavutil's av_tx.
 * Prints "CODEC SAMPLE_RATE CHANNELS SAMPLES_AT_16_KHZ PEAK_HZ", then the
 * libraries' licence. */
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/tx.h>
#include <libswresample/swresample.h>
#include <stdio.h>
#include <string.h>

enum { RATE = 16000, FFT_LEN = 8192, CHUNK = 16384 };

static int fail(const char *what, int err)
{
    char msg[AV_ERROR_MAX_STRING_SIZE] = "";
    av_strerror(err, msg, sizeof msg);
    fprintf(stderr, "ffmpeg_check: %s: %s\n", what, msg);
    return 1;
}

struct sink {
    SwrContext *swr;
    float *chunk, *head; /* head: the first FFT_LEN samples */
    long count;
};

/* Resamples n input samples (none: what the resampler still holds). */
static int take(struct sink *s, const uint8_t **in, int n)
{
    uint8_t *out = (uint8_t *)s->chunk;
    int got = swr_convert(s->swr, &out, CHUNK, in, n);
    for (int i = 0; i < got; i++, s->count++)
        if (s->count < FFT_LEN)
            s->head[s->count] = s->chunk[i];
    return got < 0 ? got : 0;
}

/* Every frame the decoder has ready; 0 once it wants more or has ended. */
static int drain(AVCodecContext *dec, AVFrame *frame, struct sink *s)
{
    int err;
    while ((err = avcodec_receive_frame(dec, frame)) >= 0) {
        err = take(s, (const uint8_t **)frame->extended_data, frame->nb_samples);
        av_frame_unref(frame);
        if (err < 0)
            return err;
    }
    return err == AVERROR(EAGAIN) || err == AVERROR_EOF ? 0 : err;
}

static int decode(AVFormatContext *fmt, int index, AVCodecContext *dec, struct sink *s)
{
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    int err = 0;
    while (err >= 0 && av_read_frame(fmt, pkt) >= 0) {
        if (pkt->stream_index == index && (err = avcodec_send_packet(dec, pkt)) >= 0)
            err = drain(dec, frame, s);
        av_packet_unref(pkt);
    }
    if (err >= 0 && (err = avcodec_send_packet(dec, NULL)) >= 0 && (err = drain(dec, frame, s)) >= 0)
        err = take(s, NULL, 0);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    return err;
}

static double peak_hz(float *head)
{
    AVTXContext *tx = NULL;
    av_tx_fn fn;
    float scale = 1.0f;
    AVComplexFloat *bins = av_malloc(sizeof *bins * (FFT_LEN / 2 + 1));
    int best = 1;
    if (!bins || av_tx_init(&tx, &fn, AV_TX_FLOAT_RDFT, 0, FFT_LEN, &scale, 0) < 0)
        return -1;
    fn(tx, bins, head, sizeof(float));
    for (int k = 1; k <= FFT_LEN / 2; k++)
        if (bins[k].re * bins[k].re + bins[k].im * bins[k].im >
            bins[best].re * bins[best].re + bins[best].im * bins[best].im)
            best = k;
    av_tx_uninit(&tx);
    av_free(bins);
    return (double)best * RATE / FFT_LEN;
}

int main(int argc, char **argv)
{
    AVFormatContext *fmt = NULL;
    const AVCodec *codec = NULL;
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    struct sink s = { NULL, av_malloc(sizeof(float) * CHUNK), av_mallocz(sizeof(float) * FFT_LEN), 0 };
    int err, index;
    if (argc != 2) {
        fprintf(stderr, "usage: ffmpeg_check FILM\n");
        return 2;
    }
    if ((err = avformat_open_input(&fmt, argv[1], NULL, NULL)) < 0 ||
        (err = avformat_find_stream_info(fmt, NULL)) < 0)
        return fail(argv[1], err);
    if ((index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0)) < 0)
        return fail("no audio track", index);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    if ((err = avcodec_parameters_to_context(dec, fmt->streams[index]->codecpar)) < 0 ||
        (err = avcodec_open2(dec, codec, NULL)) < 0)
        return fail(codec->name, err);
    if ((err = swr_alloc_set_opts2(&s.swr, &mono, AV_SAMPLE_FMT_FLT, RATE, &dec->ch_layout,
                                   dec->sample_fmt, dec->sample_rate, 0, NULL)) < 0 ||
        (err = swr_init(s.swr)) < 0)
        return fail("resampler", err);
    if ((err = decode(fmt, index, dec, &s)) < 0)
        return fail("decoding", err);
    printf("%s %d %d %ld %.1f\n", codec->name, dec->sample_rate, dec->ch_layout.nb_channels,
           s.count, peak_hz(s.head));
    const char *licence = avutil_license();
    if (strcmp(licence, avcodec_license()) || strcmp(licence, avformat_license()) ||
        strcmp(licence, swresample_license()))
        licence = "not the same for all four libraries";
    printf("%s\n", licence);
    swr_free(&s.swr);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
    av_free(s.chunk);
    av_free(s.head);
    return 0;
}
