#include "media/media_input.h"

#include <ctype.h>
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "media/containers.h"
#include "media/declared_tracks.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace velvane {

namespace {

const int kIoBufferBytes = 1 << 16;

struct Layout {
    AVPixelFormat format;
    Chroma chroma; // 4:2:0 forms: C420, the siting coming from the stream
    int depth;
};
const Layout kLayouts[] = {
    {AV_PIX_FMT_YUV444P, Chroma::C444, 8},       {AV_PIX_FMT_YUV422P, Chroma::C422, 8},
    {AV_PIX_FMT_YUV411P, Chroma::C411, 8},       {AV_PIX_FMT_YUV420P, Chroma::C420, 8},
    {AV_PIX_FMT_GRAY8, Chroma::Mono, 8},         {AV_PIX_FMT_YUV444P10LE, Chroma::C444, 10},
    {AV_PIX_FMT_YUV422P10LE, Chroma::C422, 10},  {AV_PIX_FMT_YUV420P10LE, Chroma::C420, 10},
    {AV_PIX_FMT_GRAY10LE, Chroma::Mono, 10},     {AV_PIX_FMT_YUV444P12LE, Chroma::C444, 12},
    {AV_PIX_FMT_YUV422P12LE, Chroma::C422, 12},  {AV_PIX_FMT_YUV420P12LE, Chroma::C420, 12},
    {AV_PIX_FMT_GRAY12LE, Chroma::Mono, 12},     {AV_PIX_FMT_YUV444P16LE, Chroma::C444, 16},
    {AV_PIX_FMT_YUV422P16LE, Chroma::C422, 16},  {AV_PIX_FMT_YUV420P16LE, Chroma::C420, 16},
    {AV_PIX_FMT_GRAY16LE, Chroma::Mono, 16},
};

bool isFourTwoZero(Chroma c)
{
    return c == Chroma::C420 || c == Chroma::C420jpeg || c == Chroma::C420mpeg2 || c == Chroma::C420paldv;
}

bool frameInterlaced(const AVFrame *f)
{
#ifdef AV_FRAME_FLAG_INTERLACED
    return f->flags & AV_FRAME_FLAG_INTERLACED;
#else
    return f->interlaced_frame;
#endif
}

bool frameTopFirst(const AVFrame *f)
{
#ifdef AV_FRAME_FLAG_TOP_FIELD_FIRST
    return f->flags & AV_FRAME_FLAG_TOP_FIELD_FIRST;
#else
    return f->top_field_first;
#endif
}

// The first letter names the field shown first, as ffmpeg's own tools read
// the order (and as a YUV4MPEG2 stream from them says it).
char orderLetter(AVFieldOrder o)
{
    switch (o) {
    case AV_FIELD_TT:
    case AV_FIELD_TB: return 't';
    case AV_FIELD_BB:
    case AV_FIELD_BT: return 'b';
    case AV_FIELD_PROGRESSIVE: return 'p';
    default: return 0;
    }
}

// The length a Matroska file's tags give a stream ("DURATION"), in
// microseconds: the container's own length is that of its longest stream,
// which is often the sound.
int64_t streamDuration(const AVStream *s)
{
    const AVDictionaryEntry *e = av_dict_get(s->metadata, "DURATION", nullptr, 0);
    int64_t us;
    if (!e || av_parse_time(&us, e->value, 1) < 0 || us <= 0)
        return AV_NOPTS_VALUE;
    return us;
}

std::string ratio(AVRational r) { return std::to_string(r.num) + ":" + std::to_string(r.den); }

// A demuxer that meets the end of a broken file says so in its log and then
// reports a plain end: what it says while reading is caught here.
thread_local std::string *demuxerComplaint = nullptr;

// What a decoder says of damage it met (a slice's CRC that does not match,
// a block it concealed), counted so that the frame it was decoding is named.
// Decoders run on slice threads only, so that they speak during the call
// that decodes the frame.
std::atomic<int64_t> decoderComplaints{0};
std::mutex decoderLineLock;
std::string decoderLines[16]; // the last ones, by their number modulo 16

bool fromDecoder(void *context)
{
    if (!context)
        return false;
    const AVClass *c = *(const AVClass **)context;
    if (!c || strcmp(c->class_name, "AVCodecContext") != 0)
        return false;
    const AVCodec *codec = ((const AVCodecContext *)context)->codec;
    return codec && av_codec_is_decoder(codec);
}

void logLine(void *context, int level, const char *format, va_list args)
{
    if (level <= AV_LOG_ERROR && fromDecoder(context)) {
        char line[256];
        va_list copy;
        va_copy(copy, args);
        vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        std::string text = line;
        while (!text.empty() && isspace((unsigned char)text.back()))
            text.pop_back();
        std::lock_guard<std::mutex> hold(decoderLineLock);
        decoderLines[decoderComplaints.load() % 16] = text;
        decoderComplaints++;
    }
    if (demuxerComplaint && demuxerComplaint->empty() && level <= AV_LOG_ERROR) {
        char line[256];
        va_list copy;
        va_copy(copy, args);
        vsnprintf(line, sizeof line, format, copy);
        va_end(copy);
        *demuxerComplaint = line;
        while (!demuxerComplaint->empty() && isspace((unsigned char)demuxerComplaint->back()))
            demuxerComplaint->pop_back();
    }
    av_log_default_callback(context, level, format, args);
}

} // namespace

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

void setLibraryLogging(bool verbose)
{
    av_log_set_level(verbose ? AV_LOG_WARNING : AV_LOG_ERROR);
    av_log_set_callback(logLine);
}

bool layoutOf(int pixelFormat, int chromaLocation, Chroma *chroma, int *depth)
{
    AVPixelFormat f = (AVPixelFormat)pixelFormat;
    // The full-range names of the 8-bit formats describe the same samples.
    if (f == AV_PIX_FMT_YUVJ420P)
        f = AV_PIX_FMT_YUV420P;
    else if (f == AV_PIX_FMT_YUVJ422P)
        f = AV_PIX_FMT_YUV422P;
    else if (f == AV_PIX_FMT_YUVJ444P)
        f = AV_PIX_FMT_YUV444P;
    for (const Layout &l : kLayouts) {
        if (l.format != f)
            continue;
        *chroma = l.chroma;
        *depth = l.depth;
        if (l.chroma == Chroma::C420) {
            switch (chromaLocation) {
            case AVCHROMA_LOC_LEFT: *chroma = Chroma::C420mpeg2; break;
            case AVCHROMA_LOC_TOPLEFT: *chroma = Chroma::C420paldv; break;
            case AVCHROMA_LOC_CENTER: *chroma = Chroma::C420jpeg; break;
            default: break;
            }
        }
        return true;
    }
    return false;
}

int pixelFormatOf(Chroma chroma, int depth)
{
    if (isFourTwoZero(chroma))
        chroma = Chroma::C420;
    for (const Layout &l : kLayouts)
        if (l.chroma == chroma && l.depth == depth)
            return l.format;
    return AV_PIX_FMT_NONE;
}

PacketQueue::~PacketQueue()
{
    for (AVPacket *p : packets_)
        av_packet_free(&p);
}

void PacketQueue::push(AVPacket *packet)
{
    std::lock_guard<std::mutex> hold(lock_);
    packets_.push_back(packet);
}

AVPacket *PacketQueue::front()
{
    std::lock_guard<std::mutex> hold(lock_);
    return packets_.empty() ? nullptr : packets_.front();
}

AVPacket *PacketQueue::pop()
{
    std::lock_guard<std::mutex> hold(lock_);
    if (packets_.empty())
        return nullptr;
    AVPacket *p = packets_.front();
    packets_.pop_front();
    return p;
}

int MediaInput::readBytes(void *opaque, uint8_t *buf, int size)
{
    auto *self = static_cast<MediaInput *>(opaque);
    if (self->prefixUsed_ < self->prefix_.size()) {
        const size_t n = std::min((size_t)size, self->prefix_.size() - self->prefixUsed_);
        memcpy(buf, self->prefix_.data() + self->prefixUsed_, n);
        self->prefixUsed_ += n;
        return (int)n;
    }
    const size_t n = fread(buf, 1, (size_t)size, self->in_);
    if (n > 0)
        return (int)n;
    return ferror(self->in_) ? AVERROR(errno ? errno : EIO) : AVERROR_EOF;
}

int64_t MediaInput::seekBytes(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<MediaInput *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st;
        return fstat(fileno(self->in_), &st) == 0 ? (int64_t)st.st_size : AVERROR(errno);
    }
    if (fseeko(self->in_, (off_t)offset, whence & ~AVSEEK_FORCE) != 0)
        return AVERROR(errno);
    return (int64_t)ftello(self->in_);
}

MediaInput::MediaInput(FILE *in, const std::string &name, const std::string &prefix, const MediaInputOptions &options)
    : in_(in), name_(name), prefix_(prefix), keepAudio_(options.keepAudio), damageIsError_(options.damageIsError)
{
    try {
        open(options);
    } catch (...) {
        release();
        throw;
    }
}

MediaInput::~MediaInput() { release(); }

void MediaInput::release()
{
    sws_freeContext(sws_);
    sws_ = nullptr;
    av_frame_free(&converted_);
    av_frame_free(&frame_);
    av_frame_free(&soundFrame_);
    av_frame_free(&prev_);
    av_packet_free(&packet_);
    av_packet_free(&held_);
    av_packet_free(&next_);
    avcodec_free_context(&dec_);
    for (Sound &a : sound_)
        avcodec_free_context(&a.dec);
    avformat_close_input(&ic_);
    if (io_)
        av_freep(&io_->buffer);
    avio_context_free(&io_);
}

void MediaInput::open(const MediaInputOptions &options)
{
    // A file is read from its start with seeking, as some containers keep
    // their index at the end; a pipe is read once, from the bytes already taken.
    const std::string head = prefix_;
    struct stat st;
    const bool seekable = fstat(fileno(in_), &st) == 0 && S_ISREG(st.st_mode) && fseeko(in_, 0, SEEK_SET) == 0;
    if (seekable)
        prefix_.clear();
    uint8_t *buffer = (uint8_t *)av_malloc(kIoBufferBytes);
    if (!buffer || !(io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, this, readBytes, nullptr,
                                              seekable ? seekBytes : nullptr))) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    ic_ = avformat_alloc_context();
    if (!ic_)
        throw std::bad_alloc();
    ic_->pb = io_;
    ic_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // By content alone: a name's extension must not make a container of a
    // broken YUV4MPEG2 file, or of anything else.
    std::string headerSaid;
    demuxerComplaint = &headerSaid;
    int r = avformat_open_input(&ic_, "", nullptr, nullptr);
    demuxerComplaint = nullptr;
    const std::string kind = containerKind((const uint8_t *)head.data(), head.size());
    // What a container known by its first bytes says when its header is damaged.
    const std::string damaged = kind.empty() ? std::string() : "cannot read " + name_ + ": it looks like " + kind + ", but ";
    if (r < 0) {
        if (!kind.empty())
            throw CliError("cannot read " + name_ + ": it looks like " + kind + ", but " + avErrorText(r));
        throw CliError(name_ + " is neither a YUV4MPEG2 stream nor a media file velvane can open (" +
                       avErrorText(r) + ")");
    }
    demuxerComplaint = &headerSaid;
    r = avformat_find_stream_info(ic_, nullptr);
    demuxerComplaint = nullptr;
    if (!headerSaid.empty()) {
        demuxerSaid_ = "in its header: " + headerSaid;
        demuxerSaidTimes_++;
    }
    if (r < 0)
        throw CliError("cannot read " + name_ + ": " + avErrorText(r));

    int videos = 0;
    for (unsigned i = 0; i < ic_->nb_streams; i++) {
        AVStream *s = ic_->streams[i];
        s->discard = AVDISCARD_ALL;
        if (s->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            audio_.push_back((int)i);
            if (keepAudio_)
                s->discard = AVDISCARD_DEFAULT;
        } else if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            if (videos++ == options.videoStream)
                videoIndex_ = (int)i;
        }
    }
    if (videoIndex_ < 0) {
        if (videos == 0 && !damaged.empty())
            throw CliError(damaged + "no video stream can be read from it (its header may be damaged)");
        if (videos == 0)
            throw CliError(name_ + " holds no video stream");
        throw CliError("--video-stream " + std::to_string(options.videoStream) + ": " + name_ + " holds " +
                       std::to_string(videos) + (videos == 1 ? " video stream" : " video streams") +
                       ", counted from 0");
    }
    AVStream *vs = ic_->streams[videoIndex_];
    vs->discard = AVDISCARD_DEFAULT;
    if (keepAudio_) {
        if (!(soundFrame_ = av_frame_alloc()))
            throw std::bad_alloc();
        sound_.resize(ic_->nb_streams);
        for (int index : audio_)
            openAudio(index);
    }
    if (strncmp(ic_->iformat->name, "matroska", 8) == 0 || strcmp(ic_->iformat->name, "avi") == 0)
        checkDeclaredTracks(seekable ? std::string() : head);
    dvTruncation_ = strcmp(ic_->iformat->name, "dv") == 0;
    tsTruncation_ = strcmp(ic_->iformat->name, "mpegts") == 0;
    timesFromIndex_ = strcmp(ic_->iformat->name, "avi") == 0;
    markLate_ = strcmp(ic_->iformat->name, "mpegts") == 0 || strcmp(ic_->iformat->name, "mpeg") == 0;
    const AVCodecID id = vs->codecpar->codec_id;
    bUnreferenced_ = id == AV_CODEC_ID_MPEG1VIDEO || id == AV_CODEC_ID_MPEG2VIDEO || id == AV_CODEC_ID_MPEG4;

    const AVCodec *codec = avcodec_find_decoder(vs->codecpar->codec_id);
    if (!codec && vs->codecpar->codec_id == AV_CODEC_ID_NONE && !damaged.empty())
        throw CliError(damaged + "the kind of its video cannot be read (its header may be damaged)");
    if (!codec)
        throw CliError(name_ + ": its video (" + avcodec_get_name(vs->codecpar->codec_id) +
                       ") cannot be decoded by the FFmpeg libraries velvane runs with");
    dec_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (!dec_ || !packet_ || !frame_)
        throw std::bad_alloc();
    held_ = av_packet_alloc();
    next_ = av_packet_alloc();
    prev_ = av_frame_alloc();
    if (!held_ || !next_ || !prev_)
        throw std::bad_alloc();
    avcodec_parameters_to_context(dec_, vs->codecpar);
    dec_->pkt_timebase = vs->time_base;
    dec_->thread_count = 0;
    // Slices on threads, frames one after another: a decoder's complaint then
    // belongs to the frame being decoded.
    dec_->thread_type = FF_THREAD_SLICE;
    // Nothing larger than 4096 x 4096 is decoded: the filter takes standard
    // definition, and a damaged header's huge size is never allocated.
    dec_->max_pixels = 4096 * 4096;
    r = avcodec_open2(dec_, codec, nullptr);
    if (r < 0)
        throw CliError("cannot decode the video of " + name_ + " (" + codec->name + "): " + avErrorText(r));

    if (!decodeNext()) {
        if (!damaged.empty())
            throw CliError(damaged + "no video frame can be read from it (it ends early or is damaged)");
        throw CliError(name_ + " holds no video frame");
    }
    pending_ = true;

    // The layout: the decoder's own where the converter takes it.
    pixelFormat_ = frame_->format;
    int siting = tagOf(vs->codecpar->chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    if (siting == AVCHROMA_LOC_UNSPECIFIED)
        siting = tagOf(frame_->chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED);
    Chroma chroma;
    int depth;
    bool fromRgb = false;
    matrix_ = tagOf(vs->codecpar->color_space, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    if (matrix_ == AVCOL_SPC_UNSPECIFIED)
        matrix_ = tagOf(frame_->colorspace, AVCOL_SPC_NB, AVCOL_SPC_UNSPECIFIED);
    if (!layoutOf(pixelFormat_, siting, &chroma, &depth)) {
        AVPixelFormat taken[sizeof kLayouts / sizeof kLayouts[0] + 1];
        size_t n = 0;
        for (const Layout &l : kLayouts)
            taken[n++] = l.format;
        taken[n] = AV_PIX_FMT_NONE;
        const AVPixelFormat to = avcodec_find_best_pix_fmt_of_list(taken, (AVPixelFormat)pixelFormat_, 0, nullptr);
        sws_ = sws_getContext(frame_->width, frame_->height, (AVPixelFormat)pixelFormat_, frame_->width, frame_->height,
                              to, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
        converted_ = av_frame_alloc();
        if (to == AV_PIX_FMT_NONE || !sws_ || !converted_)
            throw CliError(name_ + ": its video's layout (" + av_get_pix_fmt_name((AVPixelFormat)pixelFormat_) +
                           ") cannot be converted to one the filter takes");
        // RGB becomes BT.601 YCbCr at the limited range, which is what the tags then say.
        const AVPixFmtDescriptor *from = av_pix_fmt_desc_get((AVPixelFormat)pixelFormat_);
        fromRgb = from && (from->flags & AV_PIX_FMT_FLAG_RGB);
        if (fromRgb) {
            const int *coefficients = sws_getCoefficients(SWS_CS_ITU601);
            sws_setColorspaceDetails(sws_, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);
        }
        converted_->format = to;
        converted_->width = frame_->width;
        converted_->height = frame_->height;
        if (av_frame_get_buffer(converted_, 0) < 0)
            throw std::bad_alloc();
        layoutOf(to, siting, &chroma, &depth);
    }

    format_.width = frame_->width;
    format_.height = frame_->height;
    format_.chroma = chroma;
    format_.depth = depth;
    char order = orderLetter((AVFieldOrder)tagOf(vs->codecpar->field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN));
    if (!order)
        order = frameInterlaced(frame_) ? (frameTopFirst(frame_) ? 't' : 'b') : 'p';
    format_.interlace = order;
    rate_ = av_guess_frame_rate(ic_, vs, frame_);
    const AVRational sar = av_guess_sample_aspect_ratio(ic_, vs, frame_);
    // The header ffmpeg would write for the same stream.
    format_.tags = {"W" + std::to_string(format_.width), "H" + std::to_string(format_.height)};
    if (rate_.num > 0 && rate_.den > 0)
        format_.tags.push_back("F" + ratio(rate_));
    format_.tags.push_back(std::string("I") + order);
    if (sar.num > 0 && sar.den > 0)
        format_.tags.push_back("A" + ratio(sar));
    std::string sampling = chromaTag(chroma, depth);
    format_.tags.push_back("C" + sampling);
    if (chroma != Chroma::Mono) {
        for (auto &c : sampling)
            c = (char)toupper((unsigned char)c);
        format_.tags.push_back("XYSCSS=" + sampling);
    }
    int range = tagOf(vs->codecpar->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (range == AVCOL_RANGE_UNSPECIFIED)
        range = tagOf(frame_->color_range, AVCOL_RANGE_NB, AVCOL_RANGE_UNSPECIFIED);
    if (fromRgb) {
        matrix_ = AVCOL_SPC_SMPTE170M;
        format_.tags.push_back("XCOLORRANGE=LIMITED");
    } else if (range == AVCOL_RANGE_JPEG || pixelFormat_ == AV_PIX_FMT_YUVJ420P || pixelFormat_ == AV_PIX_FMT_YUVJ422P ||
        pixelFormat_ == AV_PIX_FMT_YUVJ444P)
        format_.tags.push_back("XCOLORRANGE=FULL");
    else if (range == AVCOL_RANGE_MPEG)
        format_.tags.push_back("XCOLORRANGE=LIMITED");

    if (rate_.num > 0 && rate_.den > 0)
        step_ = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate_), vs->time_base));
    if (vs->nb_frames > 0)
        expected_ = vs->nb_frames;
    else if (rate_.num > 0 && vs->duration != AV_NOPTS_VALUE)
        expected_ = av_rescale_q(vs->duration, vs->time_base, av_inv_q(rate_));
    else if (rate_.num > 0 && streamDuration(vs) != AV_NOPTS_VALUE)
        expected_ = av_rescale_q(streamDuration(vs), AV_TIME_BASE_Q, av_inv_q(rate_));
    else if (rate_.num > 0 && ic_->duration != AV_NOPTS_VALUE)
        expected_ = av_rescale_q(ic_->duration, AV_TIME_BASE_Q, av_inv_q(rate_));
}

void MediaInput::checkDeclaredTracks(const std::string &head)
{
    // A Matroska track or AVI stream whose entry is damaged (its codec's ID,
    // its type, its list's name) is passed over by the demuxer, its packets
    // too, without a word: the list in the header still counts it. The tracks kept in any stream are
    // those that are neither an attachment nor a cover picture.
    std::string bytes = head;
    if (bytes.empty()) {
        bytes.resize(1 << 20);
        const ssize_t n = pread(fileno(in_), &bytes[0], bytes.size(), 0);
        bytes.resize(n > 0 ? (size_t)n : 0);
    }
    const uint8_t *data = (const uint8_t *)bytes.data();
    const DeclaredTracks declared = strcmp(ic_->iformat->name, "avi") == 0 ? aviTracks(data, bytes.size())
                                                                          : matroskaTracks(data, bytes.size());
    int found = 0;
    for (unsigned i = 0; i < ic_->nb_streams; i++) {
        const AVStream *s = ic_->streams[i];
        found += s->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC);
    }
    // AVI's index counts a sound stream's bytes where its header gives a
    // sample size (as the demuxer takes it: the block's size where the two
    // differ), otherwise its chunks; its packets count samples or chunks.
    if (declared.known && declared.sampleSizes.size() == ic_->nb_streams) {
        indexUnit_.assign(ic_->nb_streams, 1);
        for (unsigned i = 0; i < ic_->nb_streams; i++) {
            const int align = ic_->streams[i]->codecpar->block_align;
            const uint32_t size = declared.sampleSizes[i];
            indexUnit_[i] = size && align > 0 && (uint32_t)align != size ? align : size ? size : 1;
        }
    }
    if (!keepAudio_)
        return;
    // A stream kept in the list but whose type was damaged reads as one of
    // no kind at all (or as video of no known codec).
    for (unsigned i = 0; i < ic_->nb_streams; i++) {
        const AVCodecParameters *p = ic_->streams[i]->codecpar;
        if ((int)i != videoIndex_ && p->codec_id == AV_CODEC_ID_NONE &&
            (p->codec_type == AVMEDIA_TYPE_VIDEO || p->codec_type == AVMEDIA_TYPE_UNKNOWN)) {
            tracksLost_ = name_ + "'s stream " + std::to_string(i) + " is of no kind that can be read (its header "
                          "may be damaged): what it holds is not in the output";
            return;
        }
    }
    if (!declared.known)
        return;
    const int audio = (int)audio_.size();
    if (declared.audio > audio)
        tracksLost_ = name_ + " declares " + std::to_string(declared.audio) +
                      (declared.audio == 1 ? " sound track" : " sound tracks") + " in its header, but " +
                      (audio ? "only " + std::to_string(audio) + " of them can" : std::string("none can")) +
                      " be read (a track's entry may be damaged): the output has no sound of " +
                      (audio ? "the others" : declared.audio == 1 ? "it" : "them");
    else if (declared.tracks > found)
        tracksLost_ = name_ + " declares " + std::to_string(declared.tracks) + " tracks in its header, but only " +
                      std::to_string(found) + " can be read (a track's entry may be damaged, or be of a kind "
                      "FFmpeg's libraries do not know): what the others hold is not in the output";
}

std::string MediaInput::frameName() const { return "frame " + std::to_string(frames_) + " of " + name_; }

// The decoder's first complaint since `since`, empty when it said nothing.
static std::string complaintSince(int64_t since)
{
    if (decoderComplaints.load() == since)
        return std::string();
    std::lock_guard<std::mutex> hold(decoderLineLock);
    const std::string &line = decoderLines[since % 16];
    return line.empty() ? std::string("the decoder reported damage") : line;
}

void MediaInput::sendVideo(AVPacket *packet, bool corrupt)
{
    const int64_t before = decoderComplaints.load();
    const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    lastSent_ = pts;
    int r = avcodec_send_packet(dec_, packet);
    av_packet_unref(packet);
    std::string said = complaintSince(before);
    lastSentDamaged_ = !said.empty() || corrupt || r == AVERROR_INVALIDDATA;
    if (r == AVERROR_INVALIDDATA) {
        // Nothing of it could be decoded: the frame is missing, and the frames
        // after it carry on at their own times.
        lost_.push_back(said.empty() ? std::string("its data is invalid") : said);
        return;
    }
    if (r < 0 && r != AVERROR(EAGAIN)) {
        broken_ = " cannot be decoded: " + avErrorText(r);
        avcodec_send_packet(dec_, nullptr);
        return;
    }
    if (said.empty() && corrupt)
        said = "part of its data is missing in the input";
    if (!said.empty()) {
        if (pts == AV_NOPTS_VALUE)
            damageNext_ = said;
        else
            damagedPts_.emplace_back(pts, said);
    }
}

bool MediaInput::decodeNext()
{
    for (;;) {
        const int64_t before = decoderComplaints.load();
        int r = avcodec_receive_frame(dec_, frame_);
        if (r == 0) {
            // A decoder that gives its frames one late (MPEG-2's) decodes a
            // packet as it gives out the frame before: what it says then is
            // of that packet's frame.
            if (cutTime_ != AV_NOPTS_VALUE && frame_->pts == cutTime_) {
                av_frame_unref(frame_);
                throw CliError(frameName() + broken_);
            }
            std::string said = complaintSince(before);
            if (!said.empty() && lastSent_ != AV_NOPTS_VALUE && lastSent_ != frame_->pts) {
                damagedPts_.emplace_back(lastSent_, said);
                said.clear();
            }
            noteDamage(said);
            return true;
        }
        if (r == AVERROR_EOF) {
            if (!broken_.empty())
                throw CliError(frameName() + broken_);
            return false;
        }
        if (r == AVERROR_INVALIDDATA) {
            const std::string said = complaintSince(before);
            lost_.push_back(said.empty() ? std::string("its data is invalid") : said);
            continue;
        }
        if (r != AVERROR(EAGAIN))
            throw CliError(frameName() + " cannot be decoded: " + avErrorText(r));
        if (next_->size || next_->side_data_elems) {
            takeVideo(next_);
            continue;
        }
        std::string complaint;
        demuxerComplaint = &complaint;
        r = av_read_frame(ic_, packet_);
        demuxerComplaint = nullptr;
        if (r >= 0 && !complaint.empty()) {
            if (demuxerSaidTimes_++ == 0) {
                const int64_t t = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
                demuxerSaid_ = complaint;
                if (t != AV_NOPTS_VALUE)
                    demuxerSaid_ += " (before " + std::to_string(t * av_q2d(ic_->streams[packet_->stream_index]->time_base)) + " s)";
            }
            if (damageIsError_)
                throw CliError(name_ + " is damaged: its demuxer says " + demuxerSaid_ + ", and --damage error stops there");
        }
        if (r < 0) {
            if (held_->size || held_->side_data_elems) {
                // The input ends inside the frame whose data was short.
                av_packet_unref(held_);
                broken_ = " is truncated or damaged: the input ends inside it, or its data is broken";
            } else if (r != AVERROR_EOF)
                broken_ = " cannot be read: " + avErrorText(r);
            else if (!complaint.empty())
                broken_ = " is missing: the input ends early or is damaged (" + complaint + ")";
            else if (tsTruncation_) {
                const int64_t size = avio_size(ic_->pb);
                if (lastSentDamaged_ && lastSent_ != AV_NOPTS_VALUE) {
                    cutTime_ = lastSent_;
                    broken_ = " is truncated or damaged: the input ends inside it";
                } else if (size > 0 && size % 188 && size % 192 && size % 204) {
                    broken_ = " is missing: the input ends early, inside a transport packet";
                }
            }
            // The decoder still holds whole frames from before.
            avcodec_send_packet(dec_, nullptr);
            continue;
        }
        if (timesFromIndex_)
            timeFromIndex(packet_);
        if (packet_->stream_index == videoIndex_) {
            // A DV frame cut short by the file's end still reads as a whole
            // one, its end made up; only the file's size tells.
            const int64_t size = dvTruncation_ ? avio_size(ic_->pb) : -1;
            if (size > 0 && packet_->pos >= 0 && packet_->pos + packet_->size > size) {
                av_packet_unref(packet_);
                broken_ = " is truncated or damaged: the input ends inside it, or its data is broken";
                avcodec_send_packet(dec_, nullptr);
                continue;
            }
            takeVideo(packet_);
        } else if (keepAudio_ && ic_->streams[packet_->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
            takeAudio(packet_);
        } else {
            av_packet_unref(packet_);
        }
    }
}

void MediaInput::timeFromIndex(AVPacket *packet)
{
    AVStream *st = ic_->streams[packet->stream_index];
    if (packet->pos < 8 || packet->dts == AV_NOPTS_VALUE)
        return;
    // Video counts frames; sound as its header says (PCM: bytes in the
    // index, samples in its packets). Where the header could not be read,
    // sound other than PCM is left as it is.
    const AVCodecParameters *p = st->codecpar;
    int64_t unit = 1;
    if (p->codec_type == AVMEDIA_TYPE_AUDIO) {
        if ((size_t)packet->stream_index < indexUnit_.size())
            unit = indexUnit_[packet->stream_index];
        else if (p->codec_id < AV_CODEC_ID_PCM_S16LE || p->codec_id >= AV_CODEC_ID_ADPCM_IMA_QT || p->block_align <= 0)
            return;
        else
            unit = p->block_align;
    } else if (packet->stream_index != videoIndex_) {
        return;
    }
    // The entries go by time, and so by place in the file; each names its
    // chunk's header, 8 bytes before the packet's data.
    const int64_t pos = packet->pos - 8;
    int lo = 0, hi = avformat_index_get_entries_count(st);
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (avformat_index_get_entry(st, mid)->pos < pos)
            lo = mid + 1;
        else
            hi = mid;
    }
    const AVIndexEntry *e = avformat_index_get_entry(st, lo);
    if (!e || e->pos != pos || e->timestamp % unit || e->timestamp / unit == packet->dts)
        return;
    const int64_t shift = e->timestamp / unit - packet->dts;
    packet->dts += shift;
    if (packet->pts != AV_NOPTS_VALUE)
        packet->pts += shift;
    reindexed_++;
}

std::string MediaInput::soundName(int index) const
{
    return "the sound of " + name_ + (audio_.size() > 1 ? " (its stream " + std::to_string(index) + ")" : std::string());
}

void MediaInput::openAudio(int index)
{
    // A stream whose header is damaged cannot be copied: said of the input
    // here, rather than by the muxer as a sound the output cannot take.
    const AVCodecParameters *p = ic_->streams[index]->codecpar;
    std::string wrong;
    if (p->codec_id == AV_CODEC_ID_NONE)
        wrong = "its kind cannot be read";
    else if (p->sample_rate <= 0)
        wrong = "its sample rate cannot be read";
    else if (p->ch_layout.nb_channels <= 0)
        wrong = "its channels cannot be read";
    const AVCodec *codec = wrong.empty() ? avcodec_find_decoder(p->codec_id) : nullptr;
    Sound &a = sound_[index];
    if (codec) {
        if (!(a.dec = avcodec_alloc_context3(codec)))
            throw std::bad_alloc();
        avcodec_parameters_to_context(a.dec, p);
        a.dec->pkt_timebase = ic_->streams[index]->time_base;
        a.dec->thread_count = 1;
        const int r = avcodec_open2(a.dec, codec, nullptr);
        if (r < 0)
            wrong = std::string("its ") + codec->name + " decoder refuses it (" + avErrorText(r) + ")";
    }
    if (!wrong.empty())
        throw CliError("cannot read " + soundName(index) + " (" + avcodec_get_name(p->codec_id) + "): " + wrong +
                       "; its header may be damaged. --no-audio leaves the sound out");
}

void MediaInput::takeAudio(AVPacket *packet)
{
    // A packet the decoder cannot read is left out; sound timed where sound
    // was kept already (what a damaged packet's pieces are given) too. The
    // sound after it stays at its own time: what is missing is named, time
    // and length, and where the output plays it there is silence.
    Sound &a = sound_[packet->stream_index];
    const AVRational base = ic_->streams[packet->stream_index]->time_base;
    std::string bad;
    if (a.dec) {
        const int64_t before = decoderComplaints.load();
        int r = avcodec_send_packet(a.dec, packet);
        if (r < 0 && r != AVERROR(EAGAIN))
            bad = avErrorText(r);
        while (r >= 0 && (r = avcodec_receive_frame(a.dec, soundFrame_)) >= 0)
            av_frame_unref(soundFrame_);
        if (bad.empty())
            bad = complaintSince(before);
    } else if (packet->flags & AV_PKT_FLAG_CORRUPT) {
        bad = "part of its data is missing in the input";
    }
    const int64_t dts = packet->dts;
    const int64_t slack = std::max<int64_t>(2, packet->duration / 4);
    if (bad.empty() && dts != AV_NOPTS_VALUE && a.end != AV_NOPTS_VALUE && dts < a.end - slack)
        bad = "timed where sound was kept already";
    if (!bad.empty()) {
        if (a.dropped++ == 0)
            a.why = bad;
        av_packet_unref(packet);
        return;
    }
    if (dts != AV_NOPTS_VALUE && a.end != AV_NOPTS_VALUE && (dts > a.end + slack || a.dropped)) {
        char text[200];
        const double at = a.end * av_q2d(base), lost = std::max<int64_t>(0, dts - a.end) * av_q2d(base);
        snprintf(text, sizeof text, "%.3f s of the sound missing at %.3f s", lost, at);
        std::string said = std::string(text) + " (" + soundName(packet->stream_index).substr(4);
        if (a.dropped)
            said += ": " + std::to_string(a.dropped) + (a.dropped == 1 ? " packet" : " packets") +
                    " left out, " + a.why;
        said += ")";
        if (damageIsError_)
            throw CliError(std::string(text) + " in " + soundName(packet->stream_index) +
                           (a.dropped ? " (" + a.why + ")" : std::string()) + ", and --damage error stops there");
        soundLost_.push_back(said);
    }
    a.dropped = 0;
    if (dts != AV_NOPTS_VALUE)
        a.end = dts + std::max<int64_t>(0, packet->duration);
    a.kept++;
    AVPacket *copy = av_packet_alloc();
    if (!copy)
        throw std::bad_alloc();
    av_packet_move_ref(copy, packet);
    queue_.push(copy);
}

void MediaInput::closeSound()
{
    for (size_t index = 0; index < sound_.size(); index++) {
        Sound &a = sound_[index];
        if (!a.dropped)
            continue;
        char text[200];
        const std::string plural = a.dropped == 1 ? " packet" : " packets";
        if (a.end != AV_NOPTS_VALUE)
            snprintf(text, sizeof text, "%d%s of the sound left out at its end, after %.3f s", a.dropped,
                     plural.c_str(), a.end * av_q2d(ic_->streams[index]->time_base));
        else
            snprintf(text, sizeof text, "all %d%s of the sound left out", a.dropped, plural.c_str());
        const std::string name = soundName((int)index);
        a.dropped = 0;
        if (damageIsError_)
            throw CliError(std::string(text) + " in " + name + " (" + a.why + "), and --damage error stops there");
        soundLost_.push_back(std::string(text) + " (" + name.substr(4) + ": " + a.why + ")");
    }
}

void MediaInput::takeVideo(AVPacket *packet)
{
    // A frame with data missing (a transport stream's lost packet) is held
    // until the next one shows the input goes on: then it is damage the
    // decoder conceals, otherwise the input's end. The decoder takes one
    // packet at a time, so that what it says belongs to the packet it took.
    if (markLate_ && packet != next_) {
        const bool marked = packet->flags & AV_PKT_FLAG_CORRUPT;
        packet->flags = (packet->flags & ~AV_PKT_FLAG_CORRUPT) | (markNext_ ? AV_PKT_FLAG_CORRUPT : 0);
        markNext_ = marked;
    }
    if (held_->size || held_->side_data_elems) {
        sendVideo(held_, true);
        av_packet_move_ref(next_, packet);
        return;
    }
    if (packet->flags & AV_PKT_FLAG_CORRUPT) {
        av_packet_move_ref(held_, packet);
        return;
    }
    sendVideo(packet, false);
}

void MediaInput::noteDamage(const std::string &said)
{
    damage_.clear();
    for (const std::string &l : lost_)
        damage_ += (damage_.empty() ? "" : "; ") + std::string("a frame before it is missing (") + l + ")";
    lost_.clear();
    std::string what = said;
    if (!damageNext_.empty()) {
        if (what.empty())
            what = damageNext_;
        damageNext_.clear();
    }
    const int64_t pts = frame_->pts;
    for (auto it = damagedPts_.begin(); it != damagedPts_.end();) {
        if (pts != AV_NOPTS_VALUE && it->first == pts) {
            if (what.empty())
                what = it->second;
            it = damagedPts_.erase(it);
        } else if (pts != AV_NOPTS_VALUE && it->first < pts - 64 * step_) {
            it = damagedPts_.erase(it); // a frame the decoder dropped
        } else {
            ++it;
        }
    }
    if (what.empty() && ((frame_->flags & AV_FRAME_FLAG_CORRUPT) || frame_->decode_error_flags))
        what = "the decoder concealed damage in it";
    if (!what.empty())
        damage_ += (damage_.empty() ? "" : "; ") + what;

    // A frame coded on its own ends the reach of damage before it; the
    // others after a damaged one, and those shown before it but decoded
    // after it (B frames), are predicted from it. In MPEG-1, MPEG-2 and
    // MPEG-4 part 2 nothing is predicted from a B frame: its damage stays in it.
    const int64_t time = frame_->best_effort_timestamp != AV_NOPTS_VALUE ? frame_->best_effort_timestamp
                         : reach_ ? reachTime_ + 1 : 0;
    const bool intra = frame_->key_frame || frame_->pict_type == AV_PICTURE_TYPE_I;
    const bool predictedFrom = frame_->pict_type != AV_PICTURE_TYPE_B || !bUnreferenced_;
    reached_ = false;
    reachedAhead_ = false;
    if (!damage_.empty()) {
        if (predictedFrom) {
            reachTime_ = reach_ ? std::max(reachTime_, time) : time;
            reach_ = true;
        }
    } else if (frame_->pict_type == AV_PICTURE_TYPE_B && pts != AV_NOPTS_VALUE &&
               std::any_of(damagedPts_.begin(), damagedPts_.end(),
                           [pts](const std::pair<int64_t, std::string> &d) { return d.first > pts; })) {
        // A B frame shown before a damaged frame but decoded after it: the
        // damaged one (decoded, not yet given out) is one it is predicted from.
        reachedAhead_ = true;
    } else if (reach_ && intra && time > reachTime_) {
        reach_ = false;
    } else if (reach_ && (time > reachTime_ || frame_->pict_type == AV_PICTURE_TYPE_B)) {
        reached_ = true;
    }
}

std::vector<std::string> MediaInput::shortfall(std::vector<std::string> *brief) const
{
    std::vector<std::string> w, b;
    // Far fewer frames than the header or the duration says: a damaged
    // header or index, or data the demuxer passed over.
    if (ended_ && expected_ > 0 && frames_ < expected_ - std::max<int64_t>(2, expected_ / 10)) {
        w.push_back(name_ + " gave " + std::to_string(frames_) + (frames_ == 1 ? " frame" : " frames") +
                    ", but its header promises " + std::to_string(expected_) +
                    ": the rest is lost to damage in its header, index or data");
        b.push_back(std::to_string(expected_ - frames_) + " of the " + std::to_string(expected_) +
                    " frames its header promises lost");
    }
    if (!tracksLost_.empty()) {
        w.push_back(tracksLost_);
        b.push_back("a track its header declares unread");
    }
    if (demuxerSaidTimes_) {
        w.push_back("the demuxer met damage in " + name_ + " " + std::to_string(demuxerSaidTimes_) +
                    (demuxerSaidTimes_ == 1 ? " time" : " times") + ", first " + demuxerSaid_ +
                    "; what it passed over is lost");
        b.push_back("damage passed over by the demuxer");
    }
    for (int index : audio_)
        if (ended_ && keepAudio_ && (size_t)index < sound_.size() && sound_[index].kept == 0) {
            w.push_back(name_ + " declares a sound stream (its stream " + std::to_string(index) +
                        "), but no sound of it could be read: the output has none");
            b.push_back("no sound of its stream " + std::to_string(index));
        }
    if (brief)
        *brief = b;
    return w;
}

std::string MediaInput::lossSummary() const
{
    std::vector<std::string> brief;
    shortfall(&brief);
    std::string s;
    for (const std::string &b : brief)
        s += (s.empty() ? "" : ", ") + b;
    return s;
}

bool MediaInput::read(Planes *planes, FrameInfo *info)
{
    if (!pending_ && !decodeNext()) {
        ended_ = true;
        closeSound();
        const std::vector<std::string> lost = shortfall();
        if (damageIsError_ && !lost.empty())
            throw CliError(lost[0] + ", and --damage error stops there");
        return false;
    }
    pending_ = false;
    if (frame_->width != format_.width || frame_->height != format_.height || frame_->format != pixelFormat_)
        throw CliError(frameName() + " changes from " + std::to_string(format_.width) + " x " +
                       std::to_string(format_.height) + " " + av_get_pix_fmt_name((AVPixelFormat)pixelFormat_) +
                       " to " + std::to_string(frame_->width) + " x " + std::to_string(frame_->height) + " " +
                       av_get_pix_fmt_name((AVPixelFormat)frame_->format) +
                       "; velvane filters one frame size and layout a run");

    // Every frame keeps its own time, so that the sound stays where it was
    // against the picture, at a variable frame rate too.
    int64_t pts = frame_->best_effort_timestamp;
    // Frames missing against the timestamps of an evenly spaced stream (a
    // whole frame's time or more without one): the frame before is given
    // again in place of each, so that the count and the timing are kept. A
    // jump beyond ten seconds is taken for broken timestamps, and only said.
    const int64_t most = std::max<int64_t>(250, rate_.num > 0 ? 10 * (int64_t)rate_.num / std::max(1, rate_.den) : 0);
    if (frames_ && pts != AV_NOPTS_VALUE && pts > lastPts_ && !variable_ && prev_->buf[0]) {
        const int64_t missing = (pts - lastPts_ + step_ / 4) / step_ - 1;
        if (missing > 0 && missing <= most) {
            pending_ = true; // the frame read comes after
            const AVFrame *f = sws_ ? converted_ : prev_;
            for (int p = 0; p < 3; p++) {
                planes->data[p] = f->data[p];
                planes->stride[p] = f->linesize[p];
            }
            info->tags.clear();
            info->interlaced = format_.interlace == 't' || format_.interlace == 'b';
            lastPts_ += step_;
            info->pts = lastPts_;
            info->damage = "it is missing from the input; frame " + std::to_string(frames_ - 1) + " is repeated in its place";
            if (repeated_++ == 0)
                firstRepeated_ = frames_;
            frames_++;
            return true;
        }
        if (missing > most) {
            jumps_++;
            damage_ += std::string(damage_.empty() ? "" : "; ") + "the input's timestamps jump " +
                       std::to_string((pts - lastPts_) * av_q2d(videoStream()->time_base)) + " s before it";
        }
    }
    if (pts == AV_NOPTS_VALUE) {
        pts = frames_ ? lastPts_ + step_ : 0;
        untimed_++;
    } else if (frames_ && pts <= lastPts_) {
        if (keepAudio_ && !audio_.empty())
            throw CliError(frameName() + " is timed at " + std::to_string(pts * av_q2d(videoStream()->time_base)) +
                           " s, not after the frame before it: its timestamps are broken, so its sound cannot be "
                           "kept in step (--no-audio places each such frame one frame after the one before)");
        if (retimed_++ == 0)
            firstRetimed_ = frames_;
        pts = lastPts_ + step_;
    } else if (frames_ && std::llabs(pts - lastPts_ - step_) * 2 > step_) {
        variable_ = true;
    }
    lastPts_ = pts;

    av_frame_unref(prev_);
    if (av_frame_ref(prev_, frame_) < 0)
        throw std::bad_alloc();
    const AVFrame *f = frame_;
    if (sws_) {
        if (av_frame_make_writable(converted_) < 0)
            throw std::bad_alloc();
        sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, converted_->data, converted_->linesize);
        f = converted_;
    }
    for (int p = 0; p < 3; p++) {
        planes->data[p] = f->data[p];
        planes->stride[p] = f->linesize[p];
    }
    info->tags.clear();
    // The stream's order holds for every frame, as the header written for it says.
    info->interlaced = format_.interlace == 't' || format_.interlace == 'b';
    info->pts = pts;
    info->damage = damage_;
    if (!damage_.empty())
        reachFrom_ = frames_;
    else if (reached_ && reachFrom_ >= 0)
        info->damage = "it is predicted from frame " + std::to_string(reachFrom_) + ", which is damaged";
    else if (reachedAhead_)
        info->damage = "it is predicted from a frame shown after it, which is damaged";
    frames_++;
    return true;
}

std::vector<std::string> MediaInput::warnings() const
{
    std::vector<std::string> w = shortfall();
    if (!soundLost_.empty()) {
        std::string text = std::to_string(soundLost_.size()) + (soundLost_.size() == 1 ? " gap" : " gaps") +
                           " in the sound of " + name_ + ", where its data was lost or damaged; the sound after each "
                           "keeps its time (--damage error stops at the first): ";
        for (size_t i = 0; i < soundLost_.size() && i < 10; i++)
            text += (i ? "; " : "") + soundLost_[i];
        if (soundLost_.size() > 10)
            text += "; and " + std::to_string(soundLost_.size() - 10) + " more";
        w.push_back(text);
    }
    if (untimed_)
        w.push_back(std::to_string(untimed_) + " frames of " + name_ +
                    " had no timestamp; each was placed one frame after the one before it");
    if (retimed_)
        w.push_back(std::to_string(retimed_) + " frames of " + name_ + ", the first frame " +
                    std::to_string(firstRetimed_) +
                    ", were timed no later than the frame before them; each was placed one frame after it");
    return w;
}

std::string MediaInput::damageFound() const
{
    const AVCodecParameters *p = videoStream()->codecpar;
    const std::string codec = avcodec_get_name(p->codec_id);
    switch (p->codec_id) {
    case AV_CODEC_ID_FFV1:
        // Versions 2 and 3 keep their settings in the stream's header, and
        // with them the slices' CRCs; 0 and 1 have neither.
        if (p->extradata_size > 0)
            return std::string();
        return "FFV1 version 0 or 1 carries no checksums: damage that still decodes goes unseen";
    case AV_CODEC_ID_MPEG1VIDEO:
    case AV_CODEC_ID_MPEG2VIDEO:
    case AV_CODEC_ID_MPEG4:
    case AV_CODEC_ID_H264:
    case AV_CODEC_ID_HEVC:
        return codec + " carries no checksums: damage is found where it breaks the stream" +
               (tsTruncation_ ? std::string(" or a transport packet is lost") : std::string());
    default:
        return codec + " carries no checksums: damage that still decodes goes unseen";
    }
}

std::string MediaInput::describe() const
{
    const AVStream *vs = videoStream();
    std::string d = name_ + ": " + ic_->iformat->name + ", video stream " + std::to_string(videoIndex_) + ": " +
                    avcodec_get_name(vs->codecpar->codec_id) + " " + std::to_string(format_.width) + " x " +
                    std::to_string(format_.height) + " " + av_get_pix_fmt_name((AVPixelFormat)pixelFormat_);
    if (sws_)
        d += std::string(" (converted to ") + av_get_pix_fmt_name((AVPixelFormat)converted_->format) + ")";
    d += format_.interlace == 't' ? ", top field first" : format_.interlace == 'b' ? ", bottom field first" : ", progressive";
    if (rate_.num > 0)
        d += ", " + ratio(rate_) + " frames a second";
    d += "; " + std::to_string(audio_.size()) + (audio_.size() == 1 ? " audio stream" : " audio streams");
    if (!audio_.empty())
        d += keepAudio_ ? " copied" : " left out";
    const std::string found = damageFound();
    return d + "; " + (found.empty() ? "damage is found by the slices' checksums" : found);
}

} // namespace velvane
