"""The clip maker of bench/motion-set: fields from their own moments in the
right order, scene cuts between fields, the noise it says, y4m it reads back."""

import os
import sys
import tempfile
import types
import unittest

import numpy as np

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def load_bench():
    path = os.path.join(ROOT, "bench", "motion-set")
    module = types.ModuleType("motion_set")
    module.__file__ = path
    with open(path) as f:
        exec(compile(f.read(), path, "exec"), module.__dict__)
    return module


M = load_bench()
# A small raster, and "photographs" whose texture varies along x only, so a
# horizontal pan moves every row alike and a field's moment shows as a shift.
SMALL = M.System("test", 12, "30000:1001", "1:1", width=160)
rng = np.random.default_rng(5)
STRIPES = np.repeat(rng.uniform(30, 220, (1, 1200, 3)).astype(np.float32), 200, axis=0)
FLAT = np.full((200, 1200, 3), 128.0, np.float32)
PHOTOS = {"stripes": STRIPES, "flat": FLAT}


def shift_between(a, b, span=8):
    """The whole-pixel shift s (|s| <= span) that best maps row a onto row b: b[x] ~ a[x + s]."""
    a, b = a.astype(float), b.astype(float)
    n = len(a)
    errs = {s: np.mean((b[span:n - span] - a[span + s:n - span + s]) ** 2) for s in range(-span, span + 1)}
    return min(errs, key=errs.get)


class ClipMaker(unittest.TestCase):
    def render(self, order, shots, frames=3):
        scene = M.Scene("t", SMALL, order, "test", shots)
        return M.render_clip(scene, frames, photo=PHOTOS.get)

    def test_each_field_is_its_own_moment_in_field_order(self):
        # 2 pixels a field to the right: the picture moves left by 2 a field.
        pan = [(0, [M.Layer("stripes", M.linear(600, 100, 2.0, 0.0, scale=1.0))])]
        for order in ("tff", "bff"):
            first, second = (0, 1) if order == "tff" else (1, 0)
            frames = self.render(order, pan)
            for k, (y, _, _) in enumerate(frames):
                with self.subTest(order=order, frame=k):
                    self.assertEqual(shift_between(y[first], y[second]), 2)
                    if k:
                        prev = frames[k - 1][0]
                        self.assertEqual(shift_between(prev[first], y[first]), 4)
                        self.assertEqual(shift_between(prev[second], y[second]), 4)

    def test_a_cut_between_the_fields_of_a_frame(self):
        shots = [(0, [M.Layer("stripes", M.linear(600, 100, scale=1.0))]),
                 (3, [M.Layer("flat", M.linear(600, 100, scale=1.0))])]
        frames = self.render("bff", shots)
        y = frames[1][0]
        self.assertGreater(np.std(y[1::2].astype(float)), 20)      # moment 2: the first shot
        self.assertTrue(np.all(y[0::2] == 128))                     # moment 3: the second
        self.assertTrue(np.all(frames[2][0] == 128))

    def test_noise_has_the_level_and_the_grain_it_says(self):
        still = [(0, [M.Layer("flat", M.linear(600, 100, scale=1.0))])]
        clean = self.render("tff", still, frames=4)
        for name, luma, chroma, kind in [(n[0], n[2], n[3], n[4]) for n in M.NOISES if n[4]]:
            noisy = M.add_noise(clean, [n for n in M.NOISES if n[0] == name][0], 1)
            d = [np.concatenate([(a[i].astype(float) - b[i]).ravel() for a, b in zip(noisy, clean)])
                 for i in range(3)]
            with self.subTest(noise=name):
                self.assertAlmostEqual(np.std(d[0]), luma, delta=0.1 * luma)
                self.assertAlmostEqual(np.std(d[1]), chroma, delta=0.1 * chroma)
                cb = np.concatenate([(a[1].astype(float) - b[1]) for a, b in zip(noisy, clean)])
                lag1 = np.mean(cb[:, 1:] * cb[:, :-1]) / np.var(cb)
                if kind == "tape":
                    self.assertGreater(lag1, 0.8)
                else:
                    self.assertLess(abs(lag1), 0.1)

    def test_y4m_round_trip_keeps_field_order_and_samples(self):
        pan = [(0, [M.Layer("stripes", M.linear(600, 100, 1.0, 0.0, scale=1.0))])]
        frames = self.render("bff", pan, frames=2)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "clip.y4m")
            M.write_y4m(path, SMALL, "bff", frames)
            head, back = M.read_y4m(path)
            self.assertEqual((head["W"], head["H"], head["I"], head["C"]), ("160", "12", "b", "422"))
            self.assertEqual(len(back), 2)
            for a, b in zip(frames, back):
                for p, q in zip(a, b):
                    np.testing.assert_array_equal(p, q)
            self.assertIsNone(M.luma_psnr(path, path))


if __name__ == "__main__":
    unittest.main()
