// Media input on arbitrary bytes: libavformat's demuxers and libavcodec's
// decoders through the command's MediaInput, the file seekable as a real one.
// Whatever the bytes, opening gives a source or a clear error, and reading
// gives whole frames of the format it announced, each later than the one
// before, until the end or a clear error; every byte of every plane is there
// to be read. Damage the decoder conceals is said of its frame.
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_input.h"
#include "media/containers.h"
#include "media/media_input.h"

using namespace velvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    static bool quiet = [] {
        setLibraryLogging(false);
        av_log_set_level(AV_LOG_QUIET); // the damage is still counted, through the command's own log callback
        return true;
    }();
    (void)quiet;
    const int fd = memfd_create("fuzz-media", 0);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(size == 0 || write(fd, bytes, size) == (ssize_t)size);
    FILE *in = fdopen(fd, "rb");
    FUZZ_CHECK(in != nullptr);
    // As the command does: the first bytes are taken to tell the kind, then handed over.
    std::string head(kContainerProbeBytes, '\0');
    rewind(in);
    head.resize(fread(&head[0], 1, head.size(), in));

    MediaInputOptions options;
    options.keepAudio = true;
    try {
        MediaInput media(in, "input", head, options);
        const Y4mFormat format = media.format();
        FUZZ_CHECK(format.width > 0 && format.height > 0);
        if ((int64_t)format.width * format.height > 1000000) {
            fclose(in); // the command refuses it before the first frame buffer
            return 0;
        }
        std::vector<uint8_t> raw(format.frameBytes());
        int64_t last = INT64_MIN;
        for (int n = 0; n < 200; n++) {
            Planes planes;
            FrameInfo info;
            try {
                if (!media.read(&planes, &info))
                    break;
            } catch (const CliError &e) {
                FUZZ_CHECK(strlen(e.what()) > 0);
                break; // the frames before it stand
            }
            FUZZ_CHECK(info.pts > last);
            last = info.pts;
            copyPlanes(format, planes, rawPlanes(format, raw.data())); // every sample read
        }
        // What the run would say of it: every warning in words.
        const std::vector<std::string> warnings = media.warnings();
        for (const std::string &w : warnings)
            FUZZ_CHECK(!w.empty());
        FUZZ_CHECK(media.lossSummary().empty() || !warnings.empty()); // the summary's loss is said in full too
        while (AVPacket *p = media.audioPackets().pop())
            av_packet_free(&p);
    } catch (const CliError &e) {
        FUZZ_CHECK(strlen(e.what()) > 0);
    }
    fclose(in);
    return 0;
}
