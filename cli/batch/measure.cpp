#include "measure.h"

#include <stdio.h>

#include <memory>
#include <vector>

#include "y4m/convert.h"
#include "run/frame_io.h"
#include "media/containers.h"
#include "media/media_input.h"
#include "y4m/y4m.h"

namespace velvane {
namespace batch {

bool measureInputNoise(const std::string &path, int videoStream, VelvaneNoiseReport *out)
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
        VelvaneFrame described[3] = {};
        int count = 0;
        Planes planes;
        FrameInfo info;
        while (count < 3 && source->read(&planes, &info)) {
            frames[count].resize((size_t)f.width * f.height);
            converter.toHost(planes.data, planes.stride, info.interlaced, frames[count].data());
            VelvaneFrame &d = described[count];
            d.format = VELVANE_PIXEL_YC48;
            d.width = f.width;
            d.height = f.height;
            d.data[0] = frames[count].data();
            d.stride[0] = (ptrdiff_t)f.width * (ptrdiff_t)sizeof(YcPixel);
            count++;
        }
        if (count > 0) {
            measured = velvane_measure_noise(described, count, out) == VELVANE_OK;
        }
    } catch (const CliError &) {
        // the run itself said what is wrong with the input
    }
    fclose(in);
    return measured;
}

} // namespace batch
} // namespace velvane
