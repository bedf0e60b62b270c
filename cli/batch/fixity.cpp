#include "fixity.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/md5.h>
#include <libavutil/pixdesc.h>
}

#include "y4m/y4m.h"

namespace velvane {
namespace batch {

namespace {

std::string hex(const uint8_t *digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < 16; i++) {
        s += digits[digest[i] >> 4];
        s += digits[digest[i] & 15];
    }
    return s;
}

std::string avText(int e)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(e, buf, sizeof buf);
    return buf;
}

struct Md5 {
    AVMD5 *ctx = av_md5_alloc();
    Md5()
    {
        if (!ctx)
            throw std::bad_alloc();
        av_md5_init(ctx);
    }
    ~Md5() { av_free(ctx); }
    void add(const void *data, size_t n) { av_md5_update(ctx, (const uint8_t *)data, n); }
    std::string done()
    {
        uint8_t digest[16];
        av_md5_final(ctx, digest);
        return hex(digest);
    }
};

} // namespace

std::string md5Hex(const void *data, size_t size)
{
    Md5 m;
    m.add(data, size);
    return m.done();
}

std::string md5File(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        throw CliError("cannot read " + path + ": " + strerror(errno));
    Md5 m;
    std::vector<uint8_t> buf(1 << 20);
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0)
        m.add(buf.data(), n);
    const bool failed = ferror(f);
    const int e = errno;
    fclose(f);
    if (failed)
        throw CliError("cannot read " + path + ": " + strerror(e));
    return m.done();
}

FrameChecksums frameMd5(const std::string &path)
{
    struct Context {
        AVFormatContext *ic = nullptr;
        AVCodecContext *dec = nullptr;
        AVPacket *pkt = av_packet_alloc();
        AVFrame *frame = av_frame_alloc();
        ~Context()
        {
            av_frame_free(&frame);
            av_packet_free(&pkt);
            avcodec_free_context(&dec);
            avformat_close_input(&ic);
        }
    } c;
    if (!c.pkt || !c.frame)
        throw std::bad_alloc();
    int e = avformat_open_input(&c.ic, path.c_str(), nullptr, nullptr);
    if (e < 0)
        throw CliError("cannot open " + path + ": " + avText(e));
    if ((e = avformat_find_stream_info(c.ic, nullptr)) < 0)
        throw CliError("cannot read " + path + ": " + avText(e));
    const int index = av_find_best_stream(c.ic, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        throw CliError(path + " holds no video stream");
    AVStream *st = c.ic->streams[index];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        throw CliError("no decoder for the video of " + path);
    c.dec = avcodec_alloc_context3(codec);
    if (!c.dec)
        throw std::bad_alloc();
    avcodec_parameters_to_context(c.dec, st->codecpar);
    c.dec->thread_count = 0;
    if ((e = avcodec_open2(c.dec, codec, nullptr)) < 0)
        throw CliError("cannot decode the video of " + path + ": " + avText(e));

    AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = AVRational{25, 1};
    const AVRational tb = av_inv_q(rate);
    FrameChecksums out;
    std::string &t = out.text;
    char line[256];
    t = "#format: frame checksums\n#version: 2\n#hash: MD5\n";
    snprintf(line, sizeof line, "#tb 0: %d/%d\n#media_type 0: video\n#codec_id 0: rawvideo\n", tb.num, tb.den);
    t += line;
    // The shape of the pixels: the stream's, else square, as ffmpeg says it.
    AVRational sar = av_guess_sample_aspect_ratio(c.ic, st, nullptr);
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    snprintf(line, sizeof line, "#dimensions 0: %dx%d\n#sar 0: %d/%d\n", c.dec->width, c.dec->height, sar.num,
             sar.den);
    t += line;
    t += "#stream#, dts,        pts, duration,     size, hash\n";

    std::vector<uint8_t> packed;
    int64_t first = AV_NOPTS_VALUE;
    auto take = [&](AVFrame *f) {
        const int size = av_image_get_buffer_size((AVPixelFormat)f->format, f->width, f->height, 1);
        if (size < 0)
            throw CliError("cannot decode the video of " + path + ": an unknown pixel format");
        packed.resize(size);
        av_image_copy_to_buffer(packed.data(), size, f->data, f->linesize, (AVPixelFormat)f->format, f->width,
                                f->height, 1);
        // Counted from the stream's start, as ffmpeg counts them.
        int64_t ts = f->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE) {
            ts = out.frames;
        } else {
            if (first == AV_NOPTS_VALUE)
                first = c.ic->start_time != AV_NOPTS_VALUE ? av_rescale_q(c.ic->start_time, AV_TIME_BASE_Q, st->time_base) : ts;
            ts = av_rescale_q(ts - first, st->time_base, tb);
        }
        snprintf(line, sizeof line, "0, %10lld, %10lld, %8d, %8d, ", (long long)ts, (long long)ts, 1, size);
        t += line;
        t += md5Hex(packed.data(), packed.size());
        t += '\n';
        out.frames++;
    };
    auto drain = [&]() {
        for (;;) {
            const int r = avcodec_receive_frame(c.dec, c.frame);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return;
            if (r < 0)
                throw CliError("cannot decode the video of " + path + ": " + avText(r));
            take(c.frame);
            av_frame_unref(c.frame);
        }
    };
    while ((e = av_read_frame(c.ic, c.pkt)) >= 0) {
        if (c.pkt->stream_index == index) {
            const int r = avcodec_send_packet(c.dec, c.pkt);
            av_packet_unref(c.pkt);
            if (r < 0)
                throw CliError("cannot decode the video of " + path + ": " + avText(r));
            drain();
        } else {
            av_packet_unref(c.pkt);
        }
    }
    if (e != AVERROR_EOF)
        throw CliError("cannot read " + path + ": " + avText(e));
    avcodec_send_packet(c.dec, nullptr);
    drain();
    out.seconds = (double)out.frames * tb.num / tb.den;
    return out;
}

} // namespace batch
} // namespace velvane
