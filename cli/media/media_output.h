// Output that FFmpeg's libraries write: Matroska, QuickTime, AVI, MP4 (and
// the other containers media/containers.h knows by name, where libavformat writes them).
//
// The video is encoded with FFV1 at its archival settings (version 3, every
// frame a key frame, 24 slices with their CRCs) unless another encoder is
// named, and carries the input's field order, colour range, primaries,
// transfer, matrix, chroma siting, aspect and timestamps. The input's audio
// streams are copied packet for packet, each with its timestamps.
//
// The muxer writes through the OutputFile's stream, so that its rules for
// files, links, devices and pipes, and for runs that do not finish, hold here
// too. A frame counts as written once its packet, and the sound before it,
// have gone to that stream.
#ifndef VELVANE_CLI_MEDIA_OUTPUT_H
#define VELVANE_CLI_MEDIA_OUTPUT_H

#include <stdint.h>
#include <stdio.h>

#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "run/frame_io.h"
#include "run/history.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace velvane {

class MediaInput;

// Whether OUTPUT goes through libavformat: its name asks for a container that
// libavformat writes.
bool writesMedia(const std::string &path);

struct MediaOutputOptions {
    std::string encoder; // empty: FFV1 at its archival settings
    std::vector<std::pair<std::string, std::string>> encoderOptions;
    // Runs that do not finish keep their frames: MP4 and QuickTime are then
    // written in fragments, which play without the index at the end.
    bool keepPartial = false;
    // What the run did, written into the container's tags (Matroska, QuickTime, MP4).
    const RunHistory *history = nullptr;
};

class MediaOutput : public FrameSink {
public:
    // `path` chooses the container; `file` (not closed) is where it goes,
    // `name` is used in messages. `input`, when the frames come from a media
    // file, gives the timestamps, the colour tags and the sound.
    MediaOutput(const std::string &path, FILE *file, const std::string &name, const MediaOutputOptions &options,
                MediaInput *input);
    ~MediaOutput() override;
    MediaOutput(const MediaOutput &) = delete;
    MediaOutput &operator=(const MediaOutput &) = delete;

    Y4mFormat start(const Y4mFormat &wanted, bool samplingFixed, std::atomic<int64_t> *written) override;
    Planes planes() override;
    void write(const FrameInfo &info) override;
    void finish() override;
    // Ends the container after the frames written so far (its index and
    // duration), for a run that broke off and keeps them: with the output
    // stream's lock held, so that no frame is half written. Once only.
    void finishPartial();

private:
    static int writeBytes(void *opaque, uint8_t *buf, int size);
    static int64_t seekBytes(void *opaque, int64_t offset, int whence);
    Y4mFormat chooseLayout(const AVCodec *codec, const Y4mFormat &wanted, bool samplingFixed);
    void openEncoder(const AVCodec *codec, const Y4mFormat &f);
    void addVideo();
    void addAudio();
    void openMuxer();
    void warnLostTags() const;
    // The stream the container refuses, in words, when it refuses one; empty
    // when each is taken alone.
    std::string refusedStream(const AVDictionary *given);
    void drainEncoder();
    void writeAudioUpTo(int64_t videoTime); // in the encoder's time base; AV_NOPTS_VALUE: all
    void check(int result, const std::string &what);

    std::string path_, name_;
    FILE *file_;
    MediaOutputOptions options_;
    MediaInput *input_;
    AVFormatContext *oc_ = nullptr;
    AVIOContext *io_ = nullptr;
    AVCodecContext *enc_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    AVStream *video_ = nullptr;
    AVRational sourceTimeBase_ = {1, 25}; // of FrameInfo::pts
    AVRational rate_ = {25, 1};
    char order_ = 'p';
    std::vector<int> audioOut_; // the output stream of each input stream, -1 for none
    std::vector<AVRational> audioBase_; // the time base of each input stream's packets
    std::vector<int64_t> audioLast_;    // the last timestamp written of each, in its time base
    int64_t lastPts_ = INT64_MIN;
    int64_t framesIn_ = 0;
    int writeErrno_ = 0;
    bool headerWritten_ = false, trailerWritten_ = false;
    std::atomic<int64_t> *written_ = nullptr;
};

} // namespace velvane

#endif
