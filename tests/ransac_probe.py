"""Helpers shared by the random-engine and RANSAC tests.

The library's engine is not drawn from directly by Python; a one-iteration RANSAC over 1000 distinct pairs whose
every hypothesis is accepted reveals the next sample (three draws over [0, 999] in the usual case) through its
transformation. `Engine` is an independent model of the engine (Python's own MT19937 core with the standard
seeding, and the multiply-and-shift mapping) that predicts those samples."""
import random

import numpy as np

from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration as reg

PROBE_N = 1000


def make_cloud(points, normals=None):
    pc = geometry.PointCloud()
    pc.points = utility.Vector3dVector(np.ascontiguousarray(points, dtype=np.float64))
    if normals is not None:
        pc.normals = utility.Vector3dVector(np.ascontiguousarray(normals, dtype=np.float64))
    return pc


def _probe_clouds():
    rng = np.random.default_rng(1234)
    src = rng.random((PROBE_N, 3))
    tgt = src + 0.05 * rng.normal(size=(PROBE_N, 3))  # every triple gives a different transformation
    return make_cloud(src), make_cloud(tgt)


PROBE_SOURCE, PROBE_TARGET = _probe_clouds()
PROBE_PAIRS = [(i, i) for i in range(PROBE_N)]
PROBE_CORRES = utility.Vector2iVector(np.array(PROBE_PAIRS, dtype=np.int32))


def probe():
    """Consumes the next sample of the engine and returns the transformation estimated from it (raw bytes)."""
    r = reg.registration_ransac_based_on_correspondence(
        PROBE_SOURCE, PROBE_TARGET, PROBE_CORRES, 1e6, criteria=reg.RANSACConvergenceCriteria(1, 0.999))
    assert r.fitness == 1.0
    return np.asarray(r.transformation).tobytes()


def transformation_of(sample):
    """What the probe returns when it draws `sample` (pairs in draw order)."""
    est = reg.TransformationEstimationPointToPoint()
    corres = utility.Vector2iVector(np.array(sample, dtype=np.int32).reshape(-1, 2))
    return np.asarray(est.compute_transformation(PROBE_SOURCE, PROBE_TARGET, corres)).tobytes()


class Engine:
    """MT19937 seeded like the library's engine; `draw(span)` maps one value onto [0, span)."""

    def __init__(self, seed):
        mt = [seed & 0xFFFFFFFF]
        for i in range(1, 624):
            mt.append((1812433253 * (mt[-1] ^ (mt[-1] >> 30)) + i) & 0xFFFFFFFF)
        self.r = random.Random()
        self.r.setstate((3, tuple(mt) + (624,), None))

    def raw(self):
        return self.r.getrandbits(32)

    def draw(self, span):
        p = self.raw() * span
        if (p & 0xFFFFFFFF) < span:
            t = (2**32 - span) % span
            while (p & 0xFFFFFFFF) < t:
                p = self.raw() * span
        return p >> 32

    def sample(self, pairs, k=3, attempts=None):
        """One RANSAC sample: k distinct pairs, or None after more than max(32k, 128) draws."""
        limit = max(32 * k, 128) if attempts is None else attempts
        taken, count = [], 0
        while len(taken) < k:
            c = pairs[self.draw(len(pairs))]
            if c not in taken:
                taken.append(c)
            count += 1
            if count > limit and len(taken) < k:
                return None
        return taken

    def expected_probe(self):
        return transformation_of(self.sample(PROBE_PAIRS))
