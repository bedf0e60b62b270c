#include "media/declared_tracks.h"

#include <string.h>

#include <algorithm>

namespace velvane {

namespace {

const uint32_t kEbmlHeader = 0x1A45DFA3, kSegment = 0x18538067, kTracks = 0x1654AE6B, kCluster = 0x1F43B675,
               kTrackEntry = 0xAE, kTrackType = 0x83;
const uint64_t kUnknownSize = ~(uint64_t)0;

// An EBML element's head: its ID (1 to 4 bytes, marker kept), its size (1 to
// 8 bytes, marker dropped; all ones is "unknown"), and where its data starts.
struct Element {
    uint32_t id;
    uint64_t size;
    size_t data;
};

bool readHead(const uint8_t *d, size_t end, size_t at, Element *e)
{
    if (at >= end || d[at] == 0)
        return false;
    int n = 1;
    while (!(d[at] & (0x80 >> (n - 1))))
        n++;
    if (n > 4 || at + n > end)
        return false;
    e->id = 0;
    for (int i = 0; i < n; i++)
        e->id = e->id << 8 | d[at + i];
    at += n;
    if (at >= end || d[at] == 0)
        return false;
    int m = 1;
    while (!(d[at] & (0x80 >> (m - 1))))
        m++;
    if (at + m > end)
        return false;
    uint64_t size = d[at] & (0xFF >> m);
    bool allOnes = size == (0xFFu >> m);
    for (int i = 1; i < m; i++) {
        size = size << 8 | d[at + i];
        allOnes = allOnes && d[at + i] == 0xFF;
    }
    e->size = allOnes ? kUnknownSize : size;
    e->data = at + m;
    return true;
}

// The end of an element's data, within `end`; 0 where it runs past it.
size_t endOf(const Element &e, size_t end)
{
    if (e.size == kUnknownSize || e.size > end - e.data)
        return 0;
    return e.data + (size_t)e.size;
}

void readTracks(const uint8_t *d, size_t at, size_t end, DeclaredTracks *t)
{
    Element e;
    while (at < end) {
        size_t next;
        if (!readHead(d, end, at, &e) || !(next = endOf(e, end)))
            return; // the list is damaged here: what it holds is not known
        if (e.id == kTrackEntry) {
            t->tracks++;
            Element f;
            size_t fnext;
            for (size_t p = e.data; p < next && readHead(d, next, p, &f) && (fnext = endOf(f, next)); p = fnext) {
                if (f.id == kTrackType && f.size == 1) {
                    t->video += d[f.data] == 1;
                    t->audio += d[f.data] == 2;
                }
            }
        }
        at = next;
    }
    t->known = true;
}

} // namespace

DeclaredTracks matroskaTracks(const uint8_t *data, size_t size)
{
    DeclaredTracks t;
    Element e;
    size_t end;
    if (!readHead(data, size, 0, &e) || e.id != kEbmlHeader || !(end = endOf(e, size)))
        return t;
    if (!readHead(data, size, end, &e) || e.id != kSegment)
        return t;
    const size_t segmentEnd = e.size == kUnknownSize || e.size > size - e.data ? size : e.data + (size_t)e.size;
    for (size_t at = e.data; at < segmentEnd && readHead(data, segmentEnd, at, &e);) {
        if (e.id == kCluster)
            return t;
        const size_t next = endOf(e, segmentEnd);
        if (!next)
            return t;
        if (e.id == kTracks) {
            readTracks(data, e.data, next, &t);
            return t;
        }
        at = next;
    }
    return t;
}

namespace {

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
bool is(const uint8_t *p, const char *fourcc) { return memcmp(p, fourcc, 4) == 0; }

// The end of the RIFF chunk at `at` (its data padded to an even size); 0
// where it runs past `end`.
size_t chunkEnd(const uint8_t *d, size_t at, size_t end)
{
    if (end - at < 8)
        return 0;
    const uint64_t next = at + 8 + (uint64_t)le32(d + at + 4) + (le32(d + at + 4) & 1);
    return next <= end ? (size_t)next : 0;
}

} // namespace

DeclaredTracks aviTracks(const uint8_t *data, size_t size)
{
    DeclaredTracks t;
    if (size < 12 || !is(data, "RIFF") || !is(data + 8, "AVI "))
        return t;
    size_t at = 12, next;
    // The header list comes first of all.
    if (!(next = chunkEnd(data, at, size)) || !is(data + at, "LIST") || next - at < 12 || !is(data + at + 8, "hdrl"))
        return t;
    const size_t hdrlEnd = next;
    int counted = 0, lists = 0;
    for (at += 12; at < hdrlEnd; at = next) {
        if (!(next = chunkEnd(data, at, hdrlEnd)))
            return t;
        if (is(data + at, "avih") && next - at >= 8 + 28)
            counted = (int)std::min<uint32_t>(le32(data + at + 8 + 24), 1000);
        if (!is(data + at, "LIST") || next - at < 12 || !is(data + at + 8, "strl"))
            continue;
        lists++;
        uint32_t sampleSize = 0;
        size_t c = at + 12, cnext;
        for (; c < next && (cnext = chunkEnd(data, c, next)); c = cnext) {
            if (is(data + c, "strh") && cnext - c >= 8 + 4) {
                t.video += is(data + c + 8, "vids");
                t.audio += is(data + c + 8, "auds");
                if (cnext - c >= 8 + 48)
                    sampleSize = le32(data + c + 8 + 44);
            }
        }
        t.sampleSizes.push_back(sampleSize);
    }
    t.tracks = std::max(counted, lists);
    t.known = true;
    return t;
}

} // namespace velvane
