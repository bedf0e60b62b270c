// What a container's header declares, read from its bytes apart from the
// demuxer: a flipped byte in a track's entry can make the demuxer pass over
// the whole track (its packets too) without a word, and only the header
// still tells that it was there.
#ifndef VELVANE_CLI_DECLARED_TRACKS_H
#define VELVANE_CLI_DECLARED_TRACKS_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace velvane {

struct DeclaredTracks {
    bool known = false; // the track list was found whole in the bytes given
    int tracks = 0;     // entries in it
    int video = 0;      // of them, those whose type says picture
    int audio = 0;      // and sound
    // AVI: each stream list's sample size (its stream header's; 0 where the
    // stream counts whole chunks, or where the list has no header).
    std::vector<uint32_t> sampleSizes;
};

// The tracks a Matroska (or WebM) file's header lists, from its first
// `size` bytes; not known where the list is not whole within them, or is
// not where a Matroska file keeps it (before its first cluster).
DeclaredTracks matroskaTracks(const uint8_t *data, size_t size);
// The streams an AVI file's header lists: as many as its main header counts
// or as it holds stream lists, whichever is more (a damaged list's type is
// not known); not known where the header is not whole within `size` bytes.
DeclaredTracks aviTracks(const uint8_t *data, size_t size);

} // namespace velvane

#endif
