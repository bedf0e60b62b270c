#include "media/media_output.h"

#include <errno.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <iterator>

#include "media/containers.h"
#include "media/media_input.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace velvane {

namespace {

const int kIoBufferBytes = 1 << 16;

// The value of a header tag ("F30000:1001" for 'F'), empty when absent.
std::string tagValue(const Y4mFormat &f, const char *prefix)
{
    const size_t n = strlen(prefix);
    for (const auto &t : f.tags)
        if (t.compare(0, n, prefix) == 0)
            return t.substr(n);
    return std::string();
}

AVRational ratioTag(const Y4mFormat &f, const char *prefix)
{
    AVRational r = {0, 1};
    const std::string v = tagValue(f, prefix);
    if (sscanf(v.c_str(), "%d:%d", &r.num, &r.den) != 2 || r.num <= 0 || r.den <= 0)
        return AVRational{0, 1};
    return r;
}

std::string layoutText(const Y4mFormat &f)
{
    std::string s = f.chroma == Chroma::Mono ? "gray" : std::string("4:") + chromaName(f.chroma);
    if (f.chroma == Chroma::C444 || f.chroma == Chroma::C422 || f.chroma == Chroma::C411)
        s = std::string("4:") + chromaName(f.chroma)[1] + ":" + chromaName(f.chroma)[2];
    else if (f.chroma != Chroma::Mono)
        s = "4:2:0";
    return s + " " + std::to_string(f.depth) + "-bit";
}

AVChromaLocation sitingOf(Chroma c)
{
    switch (c) {
    case Chroma::C420mpeg2: return AVCHROMA_LOC_LEFT;
    case Chroma::C420jpeg: return AVCHROMA_LOC_CENTER;
    case Chroma::C420paldv: return AVCHROMA_LOC_TOPLEFT;
    default: return AVCHROMA_LOC_UNSPECIFIED;
    }
}

bool isMovFamily(const AVOutputFormat *f)
{
    return strcmp(f->name, "mov") == 0 || strcmp(f->name, "mp4") == 0 || strcmp(f->name, "ipod") == 0;
}

// Whether the container carries a codec. Those with a list say; those
// without one (transport and program streams, DV) store whatever they are
// given as data no player decodes, so only what they are made for counts.
bool carries(const AVOutputFormat *f, AVCodecID id)
{
    if (avformat_query_codec(f, id, FF_COMPLIANCE_NORMAL) >= 0)
        return true; // listed, or taken by a tag of its own (QuickTime's FFV1)
    static const struct {
        const char *muxer;
        AVCodecID ids[8];
    } kCarried[] = {
        {"mpegts", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_H264, AV_CODEC_ID_HEVC, AV_CODEC_ID_MP2,
                    AV_CODEC_ID_MP3, AV_CODEC_ID_AAC, AV_CODEC_ID_AC3}},
        {"vob", {AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2, AV_CODEC_ID_AC3, AV_CODEC_ID_PCM_DVD}},
        {"mpeg", {AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MPEG2VIDEO, AV_CODEC_ID_MP2, AV_CODEC_ID_MP3}},
        {"dv", {AV_CODEC_ID_DVVIDEO, AV_CODEC_ID_PCM_S16LE}},
    };
    for (const auto &c : kCarried)
        if (strcmp(f->name, c.muxer) == 0)
            return std::find(std::begin(c.ids), std::end(c.ids), id) != std::end(c.ids);
    return id == f->video_codec || id == f->audio_codec;
}

// The encoder to suggest for a container: its muxer's own choice, except
// that MPEG program and transport streams get MPEG-2, as standard-definition
// television is (a program stream's muxer would name MPEG-1).
const AVCodec *usualEncoder(const AVOutputFormat *f)
{
    if (strcmp(f->name, "mpeg") == 0 || strcmp(f->name, "vob") == 0 || strcmp(f->name, "mpegts") == 0)
        return avcodec_find_encoder(AV_CODEC_ID_MPEG2VIDEO);
    return avcodec_find_encoder(f->video_codec);
}

} // namespace

// The container a name asks for: libavformat's guess, except that a .vob
// is a DVD's program stream, not a Super Video CD's.
static const AVOutputFormat *containerOf(const std::string &path)
{
    const size_t dot = path.rfind('.');
    if (dot != std::string::npos && strcasecmp(path.c_str() + dot, ".vob") == 0)
        return av_guess_format("vob", nullptr, nullptr);
    return av_guess_format(nullptr, path.c_str(), nullptr);
}

bool writesMedia(const std::string &path)
{
    if (path == "-")
        return false;
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : base.substr(dot);
    if (strcasecmp(ext.c_str(), ".y4m") == 0)
        return false;
    // What is not a file (a device such as /dev/null, a named pipe) takes
    // the stream as it comes: its name chooses nothing.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return false;
    // A muxer that writes files of its own (a numbered image sequence) cannot
    // go through the one stream velvane writes.
    const AVOutputFormat *f = ext.size() > 1 ? containerOf(path) : nullptr;
    if (f && !(f->flags & AVFMT_NOFILE))
        return true;
    const std::string why = ext.size() <= 1 ? "its name has no extension"
                            : namesContainer(path)
                                ? "the FFmpeg libraries velvane runs with cannot write " + ext.substr(1) + " files"
                                : "velvane knows no file named " + ext;
    throw CliError("cannot write " + path + ": " + why + ". OUTPUT is .y4m (YUV4MPEG2) or - (YUV4MPEG2 on standard "
                   "output), or a media file named for its container: .mkv, .mov, .mp4, .avi, .ts, .vob, .mpg, .dv "
                   "or .webm (or another that FFmpeg's libraries write, such as .m2v or .mxf)");
}

int MediaOutput::writeBytes(void *opaque, uint8_t *buf, int size)
{
    auto *self = static_cast<MediaOutput *>(opaque);
    if (fwrite(buf, 1, (size_t)size, self->file_) == (size_t)size)
        return size;
    self->writeErrno_ = errno ? errno : EIO;
    return AVERROR(self->writeErrno_);
}

int64_t MediaOutput::seekBytes(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<MediaOutput *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st;
        if (fflush(self->file_) != 0 || fstat(fileno(self->file_), &st) != 0)
            return AVERROR(errno);
        return (int64_t)st.st_size;
    }
    if (fseeko(self->file_, (off_t)offset, whence & ~AVSEEK_FORCE) != 0)
        return AVERROR(errno);
    return (int64_t)ftello(self->file_);
}

MediaOutput::MediaOutput(const std::string &path, FILE *file, const std::string &name,
                         const MediaOutputOptions &options, MediaInput *input)
    : path_(path), name_(name), file_(file), options_(options), input_(input)
{
}

MediaOutput::~MediaOutput()
{
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&enc_);
    avformat_free_context(oc_);
    if (io_)
        av_freep(&io_->buffer);
    avio_context_free(&io_);
}

void MediaOutput::check(int result, const std::string &what)
{
    if (result >= 0 && !(io_ && io_->error < 0))
        return;
    if (writeErrno_)
        throw CliError(what + ": " + strerror(writeErrno_));
    throw CliError(what + ": " + avErrorText(result < 0 ? result : io_->error));
}

Y4mFormat MediaOutput::start(const Y4mFormat &wanted, bool samplingFixed, std::atomic<int64_t> *written)
{
    written_ = written;
    const AVOutputFormat *container = containerOf(path_);
    if (!container || avformat_alloc_output_context2(&oc_, container, nullptr, nullptr) < 0 || !oc_)
        throw CliError("cannot write " + name_ + ": the FFmpeg libraries velvane runs with do not write its kind");
    const std::string encoderName = options_.encoder.empty() ? "ffv1" : options_.encoder;
    const AVCodec *codec = avcodec_find_encoder_by_name(encoderName.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw CliError("--encoder " + encoderName +
                       ": the FFmpeg libraries velvane runs with have no such video encoder (ffmpeg -encoders "
                       "lists those they have)");

    if (!carries(container, codec->id)) {
        const AVCodec *usual = usualEncoder(container);
        throw CliError("cannot write " + name_ + ": " + container->long_name + " does not take " + codec->name +
                       " video (give an --encoder it takes" + (usual ? std::string(", such as ") + usual->name : "") +
                       ", or name the output .mkv)");
    }
    rate_ = ratioTag(wanted, "F");
    if (rate_.num == 0)
        rate_ = AVRational{25, 1}; // what a YUV4MPEG2 stream without its rate is taken to play at
    sourceTimeBase_ = input_ ? input_->videoStream()->time_base : av_inv_q(rate_);
    const Y4mFormat f = chooseLayout(codec, wanted, samplingFixed);
    order_ = f.interlace == 't' || f.interlace == 'b' ? f.interlace : f.interlace == 'p' ? 'p' : 0;
    openEncoder(codec, f);
    addVideo();
    addAudio();
    openMuxer();
    warnLostTags();

    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_)
        throw std::bad_alloc();
    frame_->format = enc_->pix_fmt;
    frame_->width = f.width;
    frame_->height = f.height;
    if (av_frame_get_buffer(frame_, 0) < 0)
        throw std::bad_alloc();
    return f;
}

Y4mFormat MediaOutput::chooseLayout(const AVCodec *codec, const Y4mFormat &wanted, bool samplingFixed)
{
    const int want = pixelFormatOf(wanted.chroma, wanted.depth);
    const AVPixelFormat *list = codec->pix_fmts;
    if (!list)
        return wanted;
    std::vector<AVPixelFormat> taken;
    std::string names;
    for (const AVPixelFormat *p = list; *p != AV_PIX_FMT_NONE; p++) {
        if (*p == want)
            return wanted;
        Chroma c;
        int d;
        if (layoutOf(*p, AVCHROMA_LOC_UNSPECIFIED, &c, &d) && pixelFormatOf(c, d) == *p) {
            taken.push_back(*p);
            names += std::string(names.empty() ? "" : ", ") + av_get_pix_fmt_name(*p);
        }
    }
    const std::string refused = name_ + ": the " + codec->name + " encoder does not take " + layoutText(wanted) +
                                " video (" + av_get_pix_fmt_name((AVPixelFormat)want) + ")";
    if (taken.empty())
        throw CliError(refused + ", nor any layout velvane writes");
    if (samplingFixed)
        throw CliError(refused + "; it takes " + names + " (--output-chroma and --output-depth choose)");
    taken.push_back(AV_PIX_FMT_NONE);
    const AVPixelFormat best = avcodec_find_best_pix_fmt_of_list(taken.data(), (AVPixelFormat)want, 0, nullptr);
    Chroma c;
    int d;
    layoutOf(best, AVCHROMA_LOC_UNSPECIFIED, &c, &d);
    if (c == Chroma::C420)
        c = Chroma::C420mpeg2; // the siting of MPEG-2 and H.264
    const Y4mFormat f = withSampling(wanted, c, d);
    fprintf(stderr, "velvane: the %s encoder does not take %s video; %s gets %s (--output-chroma and --output-depth "
                    "choose)\n",
            codec->name, layoutText(wanted).c_str(), name_.c_str(), layoutText(f).c_str());
    return f;
}

void MediaOutput::openEncoder(const AVCodec *codec, const Y4mFormat &f)
{
    const AVCodecParameters *source = input_ ? input_->videoStream()->codecpar : nullptr;
    AVFieldOrder order = order_ == 't' ? AV_FIELD_TT
                         : order_ == 'b' ? AV_FIELD_BB
                         : order_ == 'p' ? AV_FIELD_PROGRESSIVE
                                         : AV_FIELD_UNKNOWN;
    // The input's own flag where it says the same, as it may say more (which
    // field is coded first).
    const int sourceOrder = source ? tagOf(source->field_order, AV_FIELD_BT + 1, AV_FIELD_UNKNOWN) : AV_FIELD_UNKNOWN;
    if ((sourceOrder == AV_FIELD_TB && order_ == 't') || (sourceOrder == AV_FIELD_BT && order_ == 'b'))
        order = (AVFieldOrder)sourceOrder;
    const bool sameChroma = source && input_->format().chroma == f.chroma;

    // Timestamps go through exactly in the input's time base; an encoder that
    // wants one tick a frame (MPEG-2, DV) gets that instead.
    // AVI counts frames, not time: its clock is one tick a frame, or the
    // muxer makes one from the input's fine time base and claims that rate.
    std::vector<AVRational> bases = {sourceTimeBase_};
    if (av_cmp_q(sourceTimeBase_, av_inv_q(rate_)) != 0)
        bases.push_back(av_inv_q(rate_));
    if (strcmp(oc_->oformat->name, "avi") == 0)
        std::swap(bases.front(), bases.back());
    int result = 0;
    for (size_t i = 0; i < bases.size(); i++) {
        avcodec_free_context(&enc_);
        enc_ = avcodec_alloc_context3(codec);
        if (!enc_)
            throw std::bad_alloc();
        enc_->width = f.width;
        enc_->height = f.height;
        enc_->pix_fmt = (AVPixelFormat)pixelFormatOf(f.chroma, f.depth);
        enc_->time_base = bases[i];
        enc_->framerate = rate_;
        enc_->sample_aspect_ratio = ratioTag(f, "A");
        enc_->field_order = order;
        const std::string range = tagValue(f, "XCOLORRANGE=");
        enc_->color_range = range == "FULL" ? AVCOL_RANGE_JPEG : range == "LIMITED" ? AVCOL_RANGE_MPEG : AVCOL_RANGE_UNSPECIFIED;
        if (source) {
            enc_->color_primaries =
                (AVColorPrimaries)tagOf(source->color_primaries, AVCOL_PRI_NB, AVCOL_PRI_UNSPECIFIED);
            enc_->color_trc = (AVColorTransferCharacteristic)tagOf(source->color_trc, AVCOL_TRC_NB, AVCOL_TRC_UNSPECIFIED);
            enc_->colorspace = (AVColorSpace)input_->matrix();
        }
        const int siting =
            source ? tagOf(source->chroma_location, AVCHROMA_LOC_NB, AVCHROMA_LOC_UNSPECIFIED) : AVCHROMA_LOC_UNSPECIFIED;
        enc_->chroma_sample_location = sameChroma && siting != AVCHROMA_LOC_UNSPECIFIED
                                           ? (AVChromaLocation)siting
                                           : sitingOf(f.chroma);
        if (order_ == 't' || order_ == 'b')
            enc_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
        if (oc_->oformat->flags & AVFMT_GLOBALHEADER)
            enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        enc_->thread_count = 0;
        if (options_.encoder.empty()) {
            // The archival settings: version 3, each frame on its own, slices
            // with CRCs so that damage stays in its slice and is found. 24
            // slices are 6 across and 4 down, which the chroma planes must hold.
            enc_->level = 3;
            enc_->gop_size = 1;
            const int cw = f.hasChroma() ? f.chromaWidth() : f.width;
            const int ch = f.hasChroma() ? f.chromaHeight() : f.height;
            if (cw >= 6 && ch >= 4)
                enc_->slices = 24;
            av_opt_set(enc_->priv_data, "slicecrc", "1", 0);
        }
        AVDictionary *opts = nullptr;
        for (const auto &o : options_.encoderOptions)
            av_dict_set(&opts, o.first.c_str(), o.second.c_str(), 0);
        // x264 takes the top field first unless told, whatever the frames
        // say; the user's own x264-params come after, and so may overrule.
        if ((order_ == 't' || order_ == 'b') && strcmp(codec->name, "libx264") == 0) {
            const AVDictionaryEntry *given = av_dict_get(opts, "x264-params", nullptr, 0);
            const std::string params = std::string(order_ == 't' ? "tff=1" : "bff=1") +
                                       (given ? std::string(":") + given->value : std::string());
            av_dict_set(&opts, "x264-params", params.c_str(), 0);
        }
        // Only the last try may speak: the first one's complaint would mislead.
        const int level = av_log_get_level();
        if (i + 1 < bases.size())
            av_log_set_level(AV_LOG_QUIET);
        result = avcodec_open2(enc_, codec, &opts);
        av_log_set_level(level);
        const AVDictionaryEntry *unknown = av_dict_get(opts, "", nullptr, AV_DICT_IGNORE_SUFFIX);
        const std::string unknownKey = unknown ? unknown->key : "";
        av_dict_free(&opts);
        if (result >= 0) {
            if (!unknownKey.empty())
                throw CliError("--encoder-opt " + unknownKey + ": the " + codec->name + " encoder has no such option");
            return;
        }
    }
    throw CliError("cannot start the " + std::string(codec->name) + " encoder for " + name_ + ": " +
                   avErrorText(result));
}

void MediaOutput::addAudio()
{
    if (!input_ || !input_->keepsAudio())
        return;
    const AVFormatContext *ic = input_->container();
    audioOut_.assign(ic->nb_streams, -1);
    audioBase_.assign(ic->nb_streams, AVRational{0, 1});
    audioLast_.assign(ic->nb_streams, AV_NOPTS_VALUE);
    for (int index : input_->audioStreams()) {
        const AVStream *in = ic->streams[index];
        if (!carries(oc_->oformat, in->codecpar->codec_id))
            throw CliError("cannot write " + name_ + ": " + oc_->oformat->long_name + " does not take the sound of " +
                           input_->name() + " (" + avcodec_get_name(in->codecpar->codec_id) +
                           "): name the output .mkv, or leave the sound out with --no-audio");
        AVStream *out = avformat_new_stream(oc_, nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0)
            throw std::bad_alloc();
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        out->disposition = in->disposition;
        av_dict_copy(&out->metadata, in->metadata, 0);
        audioOut_[index] = out->index;
        audioBase_[index] = in->time_base; // read here, as the demuxer goes on in another thread
    }
}

void MediaOutput::addVideo()
{
    video_ = avformat_new_stream(oc_, nullptr);
    if (!video_ || avcodec_parameters_from_context(video_->codecpar, enc_) < 0)
        throw std::bad_alloc();
    video_->time_base = enc_->time_base;
    video_->avg_frame_rate = rate_;
    video_->sample_aspect_ratio = enc_->sample_aspect_ratio;
    // What the encoder says of its rate and buffer (MPEG-2's): a program
    // stream's muxer paces its packets by it, as ffmpeg's own tool has it do.
    for (int i = 0; i < enc_->nb_coded_side_data; i++) {
        const AVPacketSideData &sd = enc_->coded_side_data[i];
        uint8_t *copy = av_stream_new_side_data(video_, sd.type, sd.size);
        if (!copy)
            throw std::bad_alloc();
        memcpy(copy, sd.data, sd.size);
    }
    if (input_) {
        av_dict_copy(&oc_->metadata, input_->container()->metadata, 0);
        av_dict_copy(&video_->metadata, input_->videoStream()->metadata, 0);
        av_dict_set(&video_->metadata, "encoder", nullptr, 0);
    }
    if (options_.history)
        tagHistory(oc_, *options_.history);
}

// Whether the container takes these of oc_'s streams: a header written to
// memory says, with the muxer's own complaints kept quiet.
static bool takesStreams(const AVFormatContext *oc, const std::vector<int> &streams, const AVDictionary *given)
{
    AVFormatContext *t = nullptr;
    if (avformat_alloc_output_context2(&t, oc->oformat, nullptr, nullptr) < 0 || !t)
        throw std::bad_alloc();
    bool ok = true;
    for (int i : streams) {
        AVStream *s = avformat_new_stream(t, nullptr);
        if (!s || avcodec_parameters_copy(s->codecpar, oc->streams[i]->codecpar) < 0)
            ok = false;
        else
            s->time_base = oc->streams[i]->time_base;
    }
    uint8_t *bytes = nullptr;
    if (ok && avio_open_dyn_buf(&t->pb) >= 0) {
        AVDictionary *opts = nullptr;
        av_dict_copy(&opts, given, 0);
        const int level = av_log_get_level();
        av_log_set_level(AV_LOG_QUIET);
        ok = avformat_write_header(t, &opts) >= 0;
        av_log_set_level(level);
        av_dict_free(&opts);
        avio_close_dyn_buf(t->pb, &bytes);
        av_free(bytes);
        t->pb = nullptr;
    }
    avformat_free_context(t);
    return ok;
}

std::string MediaOutput::refusedStream(const AVDictionary *given)
{
    const std::string kind = oc_->oformat->long_name ? oc_->oformat->long_name : oc_->oformat->name;
    if (!takesStreams(oc_, {video_->index}, given)) {
        std::string text = std::string(enc_->codec->name) + " video (give an --encoder it takes";
        const AVCodec *usual = usualEncoder(oc_->oformat);
        if (usual)
            text += std::string(", such as ") + usual->name;
        return text + ", or name the output .mkv)";
    }
    for (size_t index = 0; index < audioOut_.size(); index++) {
        const int out = audioOut_[index];
        if (out < 0 || takesStreams(oc_, {video_->index, out}, given))
            continue;
        return "the sound of " + input_->name() + " (" + avcodec_get_name(oc_->streams[out]->codecpar->codec_id) +
               "): name the output .mkv, or leave the sound out with --no-audio";
    }
    return std::string();
}

// AVI records none of the picture's tags, QuickTime and MP4 neither its
// range nor its chroma siting: players then guess them.
void MediaOutput::warnLostTags() const
{
    const bool avi = strcmp(oc_->oformat->name, "avi") == 0;
    if (!avi && !isMovFamily(oc_->oformat))
        return;
    std::vector<std::string> lost;
    if (avi && (order_ == 't' || order_ == 'b'))
        lost.push_back("field order");
    if (enc_->color_range != AVCOL_RANGE_UNSPECIFIED)
        lost.push_back("colour range");
    if (avi && (enc_->colorspace != AVCOL_SPC_UNSPECIFIED || enc_->color_primaries != AVCOL_PRI_UNSPECIFIED)) {
        lost.push_back("colour matrix");
        lost.push_back("primaries");
    }
    if (enc_->chroma_sample_location != AVCHROMA_LOC_UNSPECIFIED && enc_->pix_fmt != AV_PIX_FMT_NONE &&
        (enc_->pix_fmt == AV_PIX_FMT_YUV420P || enc_->pix_fmt == AV_PIX_FMT_YUV420P10LE ||
         enc_->pix_fmt == AV_PIX_FMT_YUV420P12LE || enc_->pix_fmt == AV_PIX_FMT_YUV420P16LE))
        lost.push_back("chroma siting");
    if (lost.empty())
        return;
    std::string list;
    for (size_t i = 0; i < lost.size(); i++)
        list += (i == 0 ? "" : i + 1 == lost.size() ? " and " : ", ") + lost[i];
    fprintf(stderr, "velvane: warning: %s does not record the %s of the video; players will guess %s (name the "
                    "output .mkv to keep %s)\n",
            oc_->oformat->long_name, list.c_str(), lost.size() == 1 ? "it" : "them",
            lost.size() == 1 ? "it" : "them");
}

void MediaOutput::openMuxer()
{
    struct stat st;
    const bool seekable = fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode);
    uint8_t *buffer = (uint8_t *)av_malloc(kIoBufferBytes);
    if (!buffer || !(io_ = avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr, writeBytes,
                                              seekable ? seekBytes : nullptr))) {
        av_free(buffer);
        throw std::bad_alloc();
    }
    oc_->pb = io_;
    AVDictionary *opts = nullptr;
    // Without its index at the end, an MP4 or QuickTime file does not play;
    // in fragments, each part plays once written.
    if (isMovFamily(oc_->oformat))
        av_dict_set(&opts, "movflags",
                    ((options_.keepPartial || !seekable ? std::string("frag_keyframe+empty_moov+default_base_moof+")
                                                        : std::string()) + kMovMetadataFlag).c_str(), 0);
    AVDictionary *given = nullptr;
    av_dict_copy(&given, opts, 0);
    const int r = avformat_write_header(oc_, &opts);
    av_dict_free(&opts);
    if (r < 0 && !writeErrno_) {
        const std::string refused = refusedStream(given);
        av_dict_free(&given);
        if (!refused.empty())
            throw CliError("cannot write " + name_ + ": " + oc_->oformat->long_name + " does not take " + refused);
    }
    av_dict_free(&given);
    check(r, "cannot write " + name_);
    headerWritten_ = true;
    avio_flush(io_);
    check(0, "cannot write " + name_);
}

Planes MediaOutput::planes()
{
    if (av_frame_make_writable(frame_) < 0)
        throw std::bad_alloc();
    Planes p;
    for (int i = 0; i < 3; i++) {
        p.data[i] = frame_->data[i];
        p.stride[i] = frame_->linesize[i];
    }
    return p;
}

void MediaOutput::write(const FrameInfo &info)
{
    const bool interlaced = info.interlaced && (order_ == 't' || order_ == 'b');
#ifdef AV_FRAME_FLAG_INTERLACED
    frame_->flags &= ~(AV_FRAME_FLAG_INTERLACED | AV_FRAME_FLAG_TOP_FIELD_FIRST);
    if (interlaced)
        frame_->flags |= AV_FRAME_FLAG_INTERLACED | (order_ == 't' ? AV_FRAME_FLAG_TOP_FIELD_FIRST : 0);
#else
    frame_->interlaced_frame = interlaced;
    frame_->top_field_first = interlaced && order_ == 't';
#endif
    const int64_t pts = av_rescale_q(info.pts, sourceTimeBase_, enc_->time_base);
    if (pts <= lastPts_)
        throw CliError("frame " + std::to_string(framesIn_) + " falls on the same tick of the " + enc_->codec->name +
                       " encoder's clock (" + std::to_string(enc_->time_base.num) + "/" +
                       std::to_string(enc_->time_base.den) + " s) as the frame before it; that encoder cannot "
                       "keep the input's timestamps");
    lastPts_ = pts;
    frame_->pts = pts;
    const int r = avcodec_send_frame(enc_, frame_);
    if (r < 0)
        throw CliError("the " + std::string(enc_->codec->name) + " encoder failed at frame " +
                       std::to_string(framesIn_) + ": " + avErrorText(r));
    framesIn_++;
    drainEncoder();
}

void MediaOutput::drainEncoder()
{
    for (;;) {
        int r = avcodec_receive_packet(enc_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return;
        if (r < 0)
            throw CliError("the " + std::string(enc_->codec->name) + " encoder failed: " + avErrorText(r));
        // The sound up to the picture goes first, timed on the encoder's clock:
        // the muxer's may be coarser, and would round the picture early.
        const int64_t time = packet_->dts != AV_NOPTS_VALUE ? packet_->dts : packet_->pts;
        av_packet_rescale_ts(packet_, enc_->time_base, video_->time_base);
        packet_->stream_index = video_->index;
        StreamLock whole(file_);
        writeAudioUpTo(time);
        r = av_write_frame(oc_, packet_);
        av_packet_unref(packet_);
        // A muxer that gathers packets (Matroska's clusters, fragments) lets
        // go of them, so that the frame counted is in the stream.
        if (r >= 0 && (oc_->oformat->flags & AVFMT_ALLOW_FLUSH))
            r = av_write_frame(oc_, nullptr);
        check(r, "cannot write " + name_);
        avio_flush(io_);
        check(0, "cannot write " + name_);
        ++*written_;
    }
}

void MediaOutput::writeAudioUpTo(int64_t videoTime)
{
    if (audioOut_.empty())
        return;
    PacketQueue &queue = input_->audioPackets();
    while (AVPacket *a = queue.front()) {
        const AVRational base = audioBase_[a->stream_index];
        if (videoTime != AV_NOPTS_VALUE && a->dts != AV_NOPTS_VALUE &&
            av_compare_ts(a->dts, base, videoTime, enc_->time_base) > 0)
            return;
        queue.pop();
        // A muxer refuses sound that goes back in time: a damaged input's
        // timestamps, which leave its sound out of step from here on.
        int64_t &last = audioLast_[a->stream_index];
        if (a->dts != AV_NOPTS_VALUE && last != AV_NOPTS_VALUE &&
            (a->dts < last || (a->dts == last && !(oc_->oformat->flags & AVFMT_TS_NONSTRICT)))) {
            char times[96];
            snprintf(times, sizeof times, "%.3f s, not after %.3f s", a->dts * av_q2d(base), last * av_q2d(base));
            av_packet_free(&a);
            throw BrokenInput("the sound of " + input_->name() + " goes back in time at frame " +
                              std::to_string(written_->load()) + " (to " + times +
                              "): its timestamps are broken, so it cannot be kept in step (--no-audio leaves "
                              "the sound out)");
        }
        if (a->dts != AV_NOPTS_VALUE)
            last = a->dts;
        AVStream *out = oc_->streams[audioOut_[a->stream_index]];
        av_packet_rescale_ts(a, base, out->time_base);
        a->stream_index = out->index;
        a->pos = -1;
        const int r = av_write_frame(oc_, a);
        av_packet_free(&a);
        check(r, "cannot write the sound of " + input_->name() + " into " + name_);
    }
}

void MediaOutput::finish()
{
    int r = avcodec_send_frame(enc_, nullptr);
    if (r < 0)
        throw CliError("the " + std::string(enc_->codec->name) + " encoder failed at the end: " + avErrorText(r));
    drainEncoder();
    StreamLock whole(file_);
    writeAudioUpTo(AV_NOPTS_VALUE);
    if (options_.history)
        tagSceneHistory(oc_, *options_.history, rate_.num, rate_.den, framesIn_);
    trailerWritten_ = true;
    r = av_write_trailer(oc_);
    check(r, "cannot write " + name_);
    avio_flush(io_);
    check(0, "cannot write " + name_);
}

void MediaOutput::finishPartial()
{
    if (!oc_ || !headerWritten_ || trailerWritten_)
        return;
    trailerWritten_ = true;
    StreamLock whole(file_);
    av_write_trailer(oc_);
    avio_flush(io_);
}

} // namespace velvane
