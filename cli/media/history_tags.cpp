#include "run/history.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <string.h>

namespace velvane {

void tagHistory(AVFormatContext *oc, const RunHistory &h)
{
    if (!h.version.empty())
        av_dict_set(&oc->metadata, "VELVANE_VERSION", h.version.c_str(), 0);
    if (!h.settings.empty())
        av_dict_set(&oc->metadata, "VELVANE_SETTINGS", h.settings.c_str(), 0);
}

void tagSceneHistory(AVFormatContext *oc, const RunHistory &h, int rateNum, int rateDen, int64_t frames)
{
    if (h.scenes.empty() || rateNum <= 0 || rateDen <= 0)
        return;
    if (strcmp(oc->oformat->name, "matroska") != 0) {
        std::string lines;
        for (const SceneChoice &r : h.scenes)
            lines += (lines.empty() ? "" : "\n") + sceneLine(r);
        av_dict_set(&oc->metadata, "VELVANE_SCENES", lines.c_str(), 0);
        return;
    }
    // Chapters the header did not hold are written with the trailer, titles and all.
    for (size_t i = 0; i < h.scenes.size(); i++) {
        const int64_t start = h.scenes[i].strength.measured_at;
        const int64_t end = i + 1 < h.scenes.size() ? h.scenes[i + 1].strength.measured_at : frames;
        if (start < 0 || end < start)
            continue;
        AVChapter *c = (AVChapter *)av_mallocz(sizeof(AVChapter));
        if (!c)
            return;
        c->id = (int64_t)oc->nb_chapters + 1;
        c->time_base = AVRational{rateDen, rateNum};
        c->start = start;
        c->end = end;
        const std::string title = "velvane auto strength, " + sceneLine(h.scenes[i]);
        av_dict_set(&c->metadata, "title", title.c_str(), 0);
        int count = (int)oc->nb_chapters;
        if (av_dynarray_add_nofree(&oc->chapters, &count, c) < 0) {
            av_dict_free(&c->metadata);
            av_free(c);
            return;
        }
        oc->nb_chapters = (unsigned)count;
    }
}

} // namespace velvane
