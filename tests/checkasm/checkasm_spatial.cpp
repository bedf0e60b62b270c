// The spatial pass's kernel against its reference on random rows, on rows
// near the limits, and at the ends of the sample, limit and weight ranges.
#include <string.h>

#include <vector>

#include "checkasm.h"
#include "motion/spatial.h"

namespace {

using namespace velvane;

void checkSpatialRow(checkasm::Context &ctx, SpatialRowFn ref, SpatialRowFn fn)
{
    const int most = 3 * 90, pad = 3;
    std::vector<int16_t> rows[3], limit(most + 2 * pad), want(most), got(most);
    std::vector<uint16_t> scale(most + 2 * pad);
    for (auto &r : rows)
        r.resize(most + 2 * pad);
    for (int iter = 0; iter < 3000; iter++) {
        // Random anywhere, the range's ends, or a flat row with small differences.
        const int mode = ctx.randInt(0, 2);
        const int32_t base = ctx.randInt(-8192, 8191);
        for (auto &r : rows)
            for (auto &v : r) {
                int32_t s = mode == 0   ? ctx.randInt(-8192, 8191)
                            : mode == 1 ? (ctx.randInt(0, 1) ? 8191 : -8192)
                                        : base + ctx.randInt(-200, 200);
                v = (int16_t)(s < -8192 ? -8192 : s > 8191 ? 8191 : s);
            }
        for (size_t i = 0; i < limit.size(); i++) {
            const int32_t l = ctx.randInt(0, 5) == 0 ? 16383 * ctx.randInt(0, 1) : ctx.randInt(0, 400);
            limit[i] = (int16_t)l;
            // The largest scale that keeps the weights within 64, or any below it.
            const int32_t top = l > 0 ? ((64 << 16) / l > 65535 ? 65535 : (64 << 16) / l) : 65535;
            scale[i] = (uint16_t)(ctx.randInt(0, 1) ? top : ctx.randInt(0, top));
        }
        const int32_t centre = ctx.randInt(0, 4) == 0 ? (ctx.randInt(0, 1) ? 32767 : 1) : ctx.randInt(1, 256);
        const int count = ctx.randInt(1, most);
        ref(want.data(), rows[0].data() + pad, rows[1].data() + pad, rows[2].data() + pad, limit.data() + pad,
            scale.data() + pad, centre, count);
        fn(got.data(), rows[0].data() + pad, rows[1].data() + pad, rows[2].data() + pad, limit.data() + pad,
           scale.data() + pad, centre, count);
        if (memcmp(want.data(), got.data(), (size_t)count * sizeof(int16_t))) {
            ctx.fail("spatialRow", "mode %d, count %d, centre %d", mode, count, centre);
            return;
        }
    }
    ctx.bench("spatialRow",
              [&] { ref(want.data(), rows[0].data() + pad, rows[1].data() + pad, rows[2].data() + pad, limit.data() + pad, scale.data() + pad, 64, most); },
              [&] { fn(got.data(), rows[0].data() + pad, rows[1].data() + pad, rows[2].data() + pad, limit.data() + pad, scale.data() + pad, 64, most); });
}

} // namespace

CHECKASM_GROUP(spatial)
{
    SpatialDsp ref, opt;
    spatialDspInit(&ref, 0);
    spatialDspInit(&opt, ctx.flags);
    if (ctx.shouldCheck("spatialRow", (const void *)opt.spatialRow))
        checkSpatialRow(ctx, ref.spatialRow, opt.spatialRow);
}
