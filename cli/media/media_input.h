// Input that FFmpeg's libraries read: DV, AVI, Matroska, QuickTime and MP4,
// MPEG program and transport streams, and anything else libavformat opens.
//
// One video stream is decoded to the nearest layout the filter takes: every
// 8-bit 4:4:4, 4:2:2, 4:1:1 and 4:2:0 form (with its chroma siting) and
// gray, and 4:4:4, 4:2:2, 4:2:0 and gray at 10, 12 and 16 bits, come as the
// decoder gives them; anything else goes through libswscale to the nearest
// of these. The audio streams' packets are queued as read, for a
// MediaOutput to copy.
#ifndef VELVANE_CLI_MEDIA_INPUT_H
#define VELVANE_CLI_MEDIA_INPUT_H

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "run/frame_io.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

struct SwsContext;

namespace velvane {

// A tag field of FFmpeg's (a colour matrix, a range, a siting, a field
// order) as a number: damaged input can leave values its enum does not name,
// which are taken as `unspecified` (reading them as the enum is undefined).
template <class Enum> int tagOf(const Enum &field, int count, int unspecified)
{
    static_assert(sizeof(Enum) == sizeof(int), "FFmpeg's tag enums are ints");
    int v;
    memcpy(&v, &field, sizeof v);
    return v >= 0 && v < count ? v : unspecified;
}

// FFmpeg's error code in words.
std::string avErrorText(int code);
// The converter's layout of an FFmpeg pixel format (4:2:0 sited as
// `chromaLocation` says); false when it has none.
bool layoutOf(int pixelFormat, int chromaLocation, Chroma *chroma, int *depth);
// The FFmpeg pixel format of a layout; AV_PIX_FMT_NONE when there is none.
int pixelFormatOf(Chroma chroma, int depth);
// The libraries say only what went wrong (errors), or also what they doubt
// (warnings) for --verbose.
void setLibraryLogging(bool verbose);

// Packets on their way from the demuxer (the reading thread) to the muxer
// (the writing thread).
class PacketQueue {
public:
    ~PacketQueue();
    void push(AVPacket *packet); // takes it
    AVPacket *front();           // null when empty; stays queued
    AVPacket *pop();             // null when empty; the caller frees it

private:
    std::mutex lock_;
    std::deque<AVPacket *> packets_;
};

struct MediaInputOptions {
    int videoStream = 0;    // among the video streams, from 0
    bool keepAudio = false; // queue the audio packets
    bool damageIsError = false; // sound lost or damaged ends the run (--damage error)
};

class MediaInput : public FrameSource {
public:
    // Reads `in` (not closed), of which `prefix` was taken already. Opens the
    // container and decodes the first frame, so that the format is known.
    // Throws CliError.
    MediaInput(FILE *in, const std::string &name, const std::string &prefix, const MediaInputOptions &options);
    ~MediaInput() override;
    MediaInput(const MediaInput &) = delete;
    MediaInput &operator=(const MediaInput &) = delete;

    const Y4mFormat &format() const override { return format_; }
    int64_t expectedFrames() const override { return expected_; }
    bool read(Planes *planes, FrameInfo *info) override;

    const std::string &name() const { return name_; }
    const AVFormatContext *container() const { return ic_; }
    const AVStream *videoStream() const { return ic_->streams[videoIndex_]; }
    // The audio streams, in the container's order (all of them, kept or not).
    const std::vector<int> &audioStreams() const { return audio_; }
    // Whether their packets are queued, and the queue.
    bool keepsAudio() const { return keepAudio_ && !audio_.empty(); }
    PacketQueue &audioPackets() { return queue_; }
    // The frame rate the stream plays at (the stream's own, or its best guess).
    AVRational frameRate() const { return rate_; }
    // The matrix of the samples it gives (AVColorSpace): the stream's, or
    // where they were converted from RGB, that of the conversion.
    int matrix() const { return matrix_; }
    // Whether the frames read so far were not evenly spaced in time.
    bool variableRate() const { return variable_; }
    // What the run should tell the user about the timestamps, the sound
    // and the frames missing, if anything.
    std::vector<std::string> warnings() const;
    // The gaps in the sound kept, for the summary.
    size_t soundGaps() const { return soundLost_.size(); }
    // What the input gave short of what its header promises, in a few words
    // for the summary; empty when nothing.
    std::string lossSummary() const;
    // How far damage in this input can be found, in words: empty where its
    // frames carry checksums (FFV1 version 2 and 3).
    std::string damageFound() const;
    // One line on what is read, for --verbose and the report.
    std::string describe() const;

private:
    static int readBytes(void *opaque, uint8_t *buf, int size);
    static int64_t seekBytes(void *opaque, int64_t offset, int whence);
    void open(const MediaInputOptions &options);
    void release();
    bool decodeNext();
    void sendVideo(AVPacket *packet, bool corrupt);
    void takeVideo(AVPacket *packet); // one just read
    void noteDamage(const std::string &said); // of the frame just decoded
    void openAudio(int index);
    void timeFromIndex(AVPacket *packet);
    void takeAudio(AVPacket *packet); // one just read, queued unless damaged
    std::string soundName(int index) const;
    // Sound packets left out after the last one kept: named as a gap at the end.
    void closeSound();
    // What the input gave short of what its header promises (frames, a
    // sound stream), in words; empty when nothing.
    // The same in a few words each, for the summary (`brief`).
    std::vector<std::string> shortfall(std::vector<std::string> *brief = nullptr) const;
    // Tracks the header declares that the demuxer passed over (Matroska, AVI),
    // from the file's first bytes (`head` where it cannot be read again).
    void checkDeclaredTracks(const std::string &head);
    std::string frameName() const;

    FILE *in_;
    std::string name_;
    std::string prefix_;
    size_t prefixUsed_ = 0;
    bool keepAudio_;
    AVIOContext *io_ = nullptr;
    AVFormatContext *ic_ = nullptr;
    AVCodecContext *dec_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVPacket *held_ = nullptr;     // a video packet with data missing, until the input is seen to go on
    AVPacket *next_ = nullptr;     // the packet after it, sent once the frames the held one gave are out
    AVFrame *frame_ = nullptr;
    AVFrame *converted_ = nullptr; // libswscale's output, when the decoder's layout is not taken directly
    SwsContext *sws_ = nullptr;
    int videoIndex_ = -1;
    std::vector<int> audio_;
    PacketQueue queue_;
    // Each kept audio stream, by its index: a decoder that checks its packets,
    // where its sound ends so far (in its time base), packets left out since
    // the last one kept and why, and the packets kept.
    struct Sound {
        AVCodecContext *dec = nullptr;
        int64_t end = AV_NOPTS_VALUE;
        int dropped = 0;
        std::string why;
        int64_t kept = 0;
    };
    std::vector<Sound> sound_;
    AVFrame *soundFrame_ = nullptr;
    std::vector<std::string> soundLost_; // each gap or overlap, in words
    // What the demuxer said of damage it passed over (in the header, or
    // while it went on giving packets): the first, where, and how often.
    std::string demuxerSaid_;
    int64_t demuxerSaidTimes_ = 0;
    std::string tracksLost_; // tracks declared but not read, in words
    bool ended_ = false; // every frame was read
    bool damageIsError_ = false;
    // An MPEG stream's frames are cut out of its packets by a parser, which
    // gives the mark of a packet with data missing to the frame before the
    // one that lost it: the mark is moved on by one.
    bool markLate_ = false, markNext_ = false;
    // AVI times its packets by counting them: one lost to damage moves every
    // packet after it early. The index at the file's end gives each its time.
    bool timesFromIndex_ = false;
    int64_t reindexed_ = 0;
    std::vector<int64_t> indexUnit_; // by stream: what one of its packets' time counts in the index
    // Frames missing against the timestamps: the frame before is given again
    // in place of each (prev_), and counted.
    AVFrame *prev_ = nullptr;
    int64_t repeated_ = 0, firstRepeated_ = -1, jumps_ = 0;
    bool dvTruncation_ = false;
    // A transport stream cut short: its size is no whole number of packets,
    // or its last video packet decodes damaged. That frame is not given out.
    bool tsTruncation_ = false, lastSentDamaged_ = false;
    int64_t cutTime_ = AV_NOPTS_VALUE; // a DV frame cut short reads as a whole one: watch for the input's end
    bool pending_ = false;      // frame_ holds a frame not yet given out
    // Damage the decoder met: by the timestamp of the packet that had it
    // (frames come out reordered), packets that gave no frame at all, and
    // what is said of the frame given out next.
    std::vector<std::pair<int64_t, std::string>> damagedPts_;
    std::vector<std::string> lost_;
    std::string damageNext_, damage_;
    int64_t lastSent_ = AV_NOPTS_VALUE; // the time of the packet the decoder took last
    // The frames predicted from a damaged one carry its damage, up to the
    // next frame coded on its own: whether one is open, from which time,
    // whether the frame to give out is one such, and the number it was given.
    bool reach_ = false, reached_ = false;
    bool reachedAhead_ = false; // the frame to give out is a B frame predicted from a damaged one shown after it
    bool bUnreferenced_ = false; // the codec predicts nothing from B frames
    int64_t reachTime_ = 0, reachFrom_ = -1;
    std::string broken_;        // why the input ended early, said once the frames before it are out
    Y4mFormat format_;
    int pixelFormat_ = -1;      // the decoder's
    AVRational rate_ = {0, 1};
    int matrix_ = AVCOL_SPC_UNSPECIFIED;
    int64_t expected_ = -1;
    int64_t frames_ = 0;        // given out
    int64_t lastPts_ = 0;
    int64_t step_ = 1;          // one frame, in the stream's time base
    int64_t untimed_ = 0, retimed_ = 0, firstRetimed_ = -1;
    bool variable_ = false;
};

} // namespace velvane

#endif
