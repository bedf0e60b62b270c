#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora: small valid cases that reach every
stream format and every kind of host call, from which the fuzzer mutates.
Run from anywhere; it rewrites fuzz/corpus/."""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(7)


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# ---- streams: one byte choosing the output sampling, then the stream ------
# Output byte: low 3 bits pick the chroma (0 keeps it, 1 444, 2 422, 3 411,
# 4 420jpeg, 5 420mpeg2, 6 420paldv, 7 mono), bits 3-4 the depth (0 keeps it,
# 1 10, 2 12, 3 16 bits), as fuzz_y4m.cpp reads them.
def plane_bytes(w, h, chroma, depth):
    bps = 2 if depth > 8 else 1
    cw, ch = {"444": (w, h), "422": ((w + 1) // 2, h), "411": ((w + 3) // 4, h),
              "420": ((w + 1) // 2, (h + 1) // 2), "mono": (0, 0)}[chroma]
    return (w * h + 2 * cw * ch) * bps


def stream(out, header, w, h, chroma, depth, frames, frame_tags=(), cut=0):
    data = bytes([out]) + header.encode() + b"\n"
    n = plane_bytes(w, h, chroma, depth)
    for i in range(frames):
        tag = frame_tags[i % len(frame_tags)] if frame_tags else ""
        data += b"FRAME" + (b" " + tag.encode() if tag else b"") + b"\n"
        if depth > 8:
            data += b"".join(struct.pack("<H", rng.randrange(1 << depth)) for _ in range(n // 2))
        else:
            data += bytes(rng.randrange(256) for _ in range(n))
    return data[: len(data) - cut] if cut else data


write("y4m", "420jpeg-progressive", stream(0, "YUV4MPEG2 W16 H8 F30000:1001 Ip A1:1 C420jpeg", 16, 8, "420", 8, 2))
write("y4m", "422-top-first-tags", stream(0, "YUV4MPEG2 W12 H6 F30000:1001 It A10:11 C422 XYSCSS=422", 12, 6, "422", 8, 3,
                                         ("Ixyz", "")))
write("y4m", "411-bottom-first", stream(3, "YUV4MPEG2 W16 H4 F30000:1001 Ib A10:11 C411", 16, 4, "411", 8, 2))
write("y4m", "420mpeg2-mixed", stream(0, "YUV4MPEG2 W10 H6 F25:1 Im C420mpeg2", 10, 6, "420", 8, 2, ("Itsi", "Ipsp")))
write("y4m", "422p10-to-444p10", stream(9, "YUV4MPEG2 W8 H4 F25:1 It C422p10", 8, 4, "422", 10, 1))
write("y4m", "mono16", stream(0, "YUV4MPEG2 W6 H3 F25:1 Ip Cmono16", 6, 3, "mono", 16, 1))
write("y4m", "444-odd-size-xtags", stream(2, "YUV4MPEG2 W5 H3 F24:1 Ip A0:0 C444 XCOLORRANGE=LIMITED Xsomething", 5, 3,
                                          "444", 8, 2))
write("y4m", "420paldv-to-mono", stream(7, "YUV4MPEG2 W8 H8 F25:1 Ib C420paldv", 8, 8, "420", 8, 1))
write("y4m", "no-chroma-tag", stream(4, "YUV4MPEG2 W4 H2 F25:1", 4, 2, "420", 8, 2))
write("y4m", "truncated-frame", stream(0, "YUV4MPEG2 W8 H4 F25:1 It C422", 8, 4, "422", 8, 2, cut=5))
write("y4m", "huge-frame-claim", b"\0YUV4MPEG2 W999999999 H999999999 C444p16\nFRAME\n" + bytes(64))
write("y4m", "420p12-to-444p16", stream(0x19, "YUV4MPEG2 W6 H4 F25:1 Ip C420p12", 6, 4, "420", 12, 1))


# ---- whole runs of the command: one byte for the dot pass (bit 0 turns it
# off), the output chroma (bits 1-3, as above), the queue (bits 4-5),
# automatic strength (bit 6) and a view of what is taken out (bit 7), then the
# stream.
write("stream", "422-interlaced", stream(0, "YUV4MPEG2 W24 H16 F30000:1001 It A10:11 C422", 24, 16, "422", 8, 4))
write("stream", "420mpeg2-mixed-no-dots", stream(1 | 0x10, "YUV4MPEG2 W18 H10 F25:1 Im C420mpeg2", 18, 10, "420", 8, 3,
                                                 ("Itsi", "Ipsp")))
write("stream", "411-to-422", stream(2 << 1, "YUV4MPEG2 W20 H8 F30000:1001 Ib C411", 20, 8, "411", 8, 3))
write("stream", "422p10-one-frame", stream(0x30, "YUV4MPEG2 W9 H5 F25:1 It C422p10", 9, 5, "422", 10, 1))
write("stream", "huge-frame-claim", b"\0YUV4MPEG2 W720 H999999999 C444\nFRAME\n" + bytes(64))
write("stream", "truncated", stream(0, "YUV4MPEG2 W16 H6 F25:1 Ip C444", 16, 6, "444", 8, 3, cut=7))


# ---- host sessions, in the order fuzz_frame_call.cpp reads them -----------
def geometry(w, h, stride_delta, max_height_delta, count):
    # Up to 80 x 40 the sizes take a byte each; larger ones two, after a size
    # class of 3.
    tail = struct.pack("<BBB", stride_delta + 4, max_height_delta + 2, count)
    if w <= 80 and h <= 40:
        return struct.pack("<BBB", 0, w - 1, h - 1) + tail
    return struct.pack("<BHH", 3, w - 1, h - 1) + tail


DEFAULT = bytes([4])  # a setting's byte choosing its default


def settings(tracks=None, checks=(1, 1, 0, 0, 1)):
    t = tracks if tracks is not None else [DEFAULT] * 14
    return b"".join(t) + bytes(checks)


def in_range(v, lo):
    return bytes([0, v - lo])


RENDER, SETTINGS, GEOMETRY, HOST, LIFECYCLE, WINDOW, PLAYBACK = 0, 3, 4, 5, 6, 7, 8


def session(kind, seed, geo, sets, ops, kernels=2):
    # kernels: 0 the scalar references, 1 SSE2, 2 the best the processor has
    return bytes([kind]) + struct.pack("<I", seed) + geo + sets + bytes([kernels]) + ops


def render(n):
    return bytes([RENDER, n + 2])


write("frame_call", "full-size-forward", session(3, 1, geometry(720, 480, 0, 0, 5), settings(),
                                                 bytes([PLAYBACK]) + render(4)))
write("frame_call", "small-backward-no-dots", session(0, 2, geometry(37, 21, 3, 0, 4), settings(checks=(0, 1, 1, 1, 0)),
                                                      render(3) + render(2) + render(0) + render(1), kernels=0))
write("frame_call", "oversize-gate", session(0, 3, geometry(740, 490, 0, 0, 3), settings(), render(1) + render(2)))
write("frame_call", "stride-below-aligned-width", session(2, 4, geometry(717, 5, 0, 0, 3), settings(),
                                                          bytes([PLAYBACK]), kernels=1))
write("frame_call", "settings-change-between-frames",
      session(3, 5, geometry(64, 48, 4, 0, 6), settings(),
              render(0) + render(1) + bytes([SETTINGS]) +
              settings([in_range(20, 0), in_range(0, 0), in_range(5, 0), in_range(20, 0), in_range(50, -50),
                        in_range(-100, -100), in_range(100, -100), in_range(-50, -50), in_range(30, -30),
                        in_range(-30, -30), in_range(100, 0), in_range(7, 0), in_range(50, 0), in_range(3, 0)],
                       (1, 0, 1, 1, 0)) + bytes([1]) + render(2) + render(3)))
write("frame_call", "host-refuses-and-answers-null",
      session(1, 6, geometry(32, 16, 0, 0, 5), settings(),
              render(0) + bytes([HOST, 1, 2, 0]) + render(1) + bytes([HOST, 0, 1, 2, 2, 3]) + render(2) +
              bytes([HOST, 0, 1, 0]) + render(3)))
write("frame_call", "size-changes-and-double-exit",
      session(3, 7, geometry(48, 32, 0, 0, 4), settings(),
              render(0) + bytes([GEOMETRY]) + geometry(720, 480, 0, 0, 4) + render(1) +
              bytes([GEOMETRY]) + geometry(9, 4, 7, 3, 2) + render(1) + bytes([LIFECYCLE, 1]) + render(0) +
              bytes([LIFECYCLE, 2]) + render(1)))
write("frame_call", "settings-window-messages",
      session(3, 8, geometry(24, 12, 0, 0, 3), settings(),
              bytes([WINDOW, 0]) + render(0) + bytes([WINDOW, 2]) + render(1) + bytes([WINDOW, 1, WINDOW, 1])))
write("frame_call", "extreme-settings",
      session(1, 9, geometry(40, 10, 0, 0, 3),
              settings([bytes([7]) + struct.pack("<i", v) for v in
                        (2**31 - 1, -2**31, 1000, -1, 2**31 - 1, -2**31, 70000, -70000, 10**9, -10**9,
                         -5, 2**31 - 1, 600, -600)],
                       (224, 0xff, 0xff, 0xff, 0x7f, 224, 2, 0, 0, 0, 224, 0, 0, 0, 0x80, 1, 1)),
              bytes([PLAYBACK])))

# ---- automatic strength (bit 6 of a run's first byte) and the view of what
# the dot pass takes out (bit 7, with the dot pass on), through the whole
# command on frames large enough to measure; last, so that the seeds above
# keep their bytes.
write("stream", "auto-strength-dots-view", stream(0x40 | 0x80, "YUV4MPEG2 W40 H24 F30000:1001 It C422", 40, 24, "422",
                                                  8, 5))
