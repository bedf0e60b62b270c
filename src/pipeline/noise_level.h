// Measuring a clip's own noise: how much grain and how much dot interference
// the first frames of a scene carry, and where a scene changes.
#ifndef VELVANE_PIPELINE_NOISE_LEVEL_H
#define VELVANE_PIPELINE_NOISE_LEVEL_H

#include <stdint.h>

#include "velvane/filter.h"

namespace velvane {

// What a look at up to three consecutive frames tells of their noise. Noise
// is a standard deviation in 8-bit code values (the host's scale / 16).
struct NoiseLevel {
    float luma = 0, chroma = 0;
    // The luma grain as the frames themselves show it, before any measure
    // along the motion lowered `luma` (the same where none did).
    float stillLuma = 0;
    // Dot interference: the share of the picture's blocks that carry it, and
    // its mean amplitude there (8-bit code values).
    float dotShare = 0, dotAmplitude = 0;
    // The share of the dotted blocks whose dots come back only after four
    // frames (PAL's) rather than two (NTSC's).
    float dotFourFrame = 0;
    // Motion: the share of the picture's cells whose mean luma moved between
    // frames n and n + 2 by more than grain and dots explain.
    float motionShare = 0;
};

// Measures frames[0 .. count - 1] (count 1 to 3, consecutive frames of one
// scene; rows `stride` pixels apart). Grain comes from the Laplacian
// difference of each field (the three-by-three mask 1 -2 1 / -2 4 -2 /
// 1 -2 1, whose response to white noise of deviation s has a mean magnitude
// of 6 s sqrt(2 / pi)) in small blocks, of which the quietest quarter speaks
// for the noise: texture and edges only ever add to a block's response.
// Chroma is measured on every fourth pixel of every other row of a field,
// where every chroma format carries a sample of its own. Dots need three
// frames: they invert from one frame to the next, so a pattern at their
// frequency that changes between frames n and n + 1 but not between n and
// n + 2 is dots, not motion or grain; PAL's dots move on a field row from one
// frame to the next. Motion compares cells of 8 pixels by 4 rows of a field,
// whose means no dot pattern reaches (4 rows of a field take NTSC's and PAL's
// dots round whole cycles).
NoiseLevel measureNoise(const YcPixel *const *frames, int32_t count, int32_t width, int32_t height, int32_t stride);

// The same measure of three frames (`still`, as measureNoise takes them)
// where the two after the first could be moved onto it along the motion
// (`moved`: frames n + 1 and n + 2 so moved; `residual`: the grain, luma and
// chroma, of what moving frame n + 2 left). Texture and edges only add to
// the still measure, a poor match only to the moved one: the grain is the
// lower of the two. A block carries dots where the test finds them in the
// still frames and either the moved frames show them too or the change from
// frame n to n + 1 has the dots' own shape (inverting two pixels on and a
// field row on): a pan, a zoom, a star field or a moving texture that the
// still frames take for dots cancel once moved and change in no such shape,
// while dots under a moving picture keep their shape in the change even
// where moving the frames cancels them. PAL's dots, which look like a
// picture moving up a field row a frame, count where the picture under them
// stayed or the moved frames show them. Motion the moving could not follow
// (a fine texture moving by half a field row) is no inverting pattern in the
// still frames. The motion share stays the still frames'.
void refineAlongMotion(NoiseLevel &level, const YcPixel *const *still, const YcPixel *const *moved,
                       const float *residual, int32_t width, int32_t height, int32_t stride);

// A coarse picture of a frame for telling scenes apart: the mean luma of each
// cell of a 32 x 32 grid, in 8-bit code values.
constexpr int kSceneCells = 32 * 32;
struct SceneSignature {
    float cell[kSceneCells];
};
void sceneSignature(const YcPixel *frame, int32_t width, int32_t height, int32_t stride, SceneSignature *out);

// The mean change of the cells from `previous` to `next`, in code values.
float sceneChange(const SceneSignature &previous, const SceneSignature &next);

// Tells a clip's cuts from its motion, one frame at a time. A cut is a change
// far above what grain and motion give, and far above the change between the
// two frames before it: a pan or a zoom changes the cells about as much from
// each frame to the next, a cut once. So a zoom through fine detail, which
// moves every cell, stays one scene; and a scene of one frame, which no
// measure could tell from its neighbours anyway, is not one: the frame after
// a scene's first never begins another.
class SceneCuts {
public:
    // Whether the frame of signature `s` begins a scene; the first one does.
    bool next(const SceneSignature &s);
    // Forget the frames seen: the next one begins a scene.
    void reset() { have_ = false; }

private:
    SceneSignature last_;
    float change_ = 0; // between the last two frames
    bool have_ = false;
};

} // namespace velvane

#endif
