#include "measure.h"

#include <stdio.h>

#include <memory>
#include <vector>

#include "convert.h"
#include "frame_io.h"
#include "hints.h"
#include "media_input.h"
#include "y4m.h"

namespace velvane {
namespace batch {

bool measureInputNoise(const std::string &path, int videoStream, NoiseLevel *out)
{
    FILE *in = fopen(path.c_str(), "rb");
    if (!in)
        return false;
    bool measured = false;
    try {
        std::string head(kContainerProbeBytes, '\0');
        head.resize(fread(&head[0], 1, head.size(), in));
        std::unique_ptr<FrameSource> source;
        if (head.compare(0, 9, "YUV4MPEG2") == 0) {
            source.reset(new Y4mSource(in, path, head));
        } else {
            MediaInputOptions options;
            options.videoStream = videoStream;
            source.reset(new MediaInput(in, path, head, options));
        }
        const Y4mFormat &f = source->format();
        FrameConverter converter(f, f.width);
        std::vector<YcPixel> frames[3];
        const YcPixel *pointers[3];
        int count = 0;
        Planes planes;
        FrameInfo info;
        while (count < 3 && source->read(&planes, &info)) {
            frames[count].resize((size_t)f.width * f.height);
            converter.toHost(planes.data, planes.stride, info.interlaced, frames[count].data());
            pointers[count] = frames[count].data();
            count++;
        }
        if (count > 0) {
            *out = measureNoise(pointers, count, f.width, f.height, f.width);
            measured = true;
        }
    } catch (const CliError &) {
        // the run itself said what is wrong with the input
    }
    fclose(in);
    return measured;
}

} // namespace batch
} // namespace velvane
