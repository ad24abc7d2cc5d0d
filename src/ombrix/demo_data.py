"""Procedural demo data: an asymmetric closed surface and partial, noisy scans of it."""
from __future__ import annotations

import numpy as np


def surface_points(n: int, rng: np.random.Generator) -> tuple[np.ndarray, np.ndarray]:
    """Samples n points (and outward directions) on a lumpy, asymmetric closed surface.

    The radius varies with direction through a few low-order harmonics, so the
    shape has no symmetry a registration could confuse with the true pose.
    """
    d = rng.normal(size=(n, 3))
    d /= np.linalg.norm(d, axis=1, keepdims=True)
    x, y, z = d.T
    r = (1.0 + 0.35 * np.sin(3.0 * x + 0.5) * np.cos(2.0 * y) + 0.25 * z * z * z
         + 0.15 * np.sin(5.0 * y + 2.0 * z) + 0.2 * np.maximum(x + 0.4 * y, 0.0) ** 2)
    pts = d * r[:, None] * np.array([1.3, 1.0, 0.8])
    return pts, d


def partial_scan(points: np.ndarray, directions: np.ndarray, view: np.ndarray, noise: float,
                 rng: np.random.Generator) -> np.ndarray:
    """Keeps the points seen from `view` (a direction) and adds Gaussian noise."""
    view = np.asarray(view, dtype=np.float64)
    view = view / np.linalg.norm(view)
    keep = directions @ view > -0.2
    return points[keep] + rng.normal(scale=noise, size=(int(keep.sum()), 3))


def random_rigid_motion(rng: np.random.Generator, max_angle: float = 0.8, max_shift: float = 0.5) -> np.ndarray:
    """A 4x4 rigid transformation with a random axis, angle up to max_angle radians."""
    axis = rng.normal(size=3)
    axis /= np.linalg.norm(axis)
    angle = rng.uniform(0.3 * max_angle, max_angle)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    rot = np.eye(3) + np.sin(angle) * k + (1 - np.cos(angle)) * (k @ k)
    t = np.eye(4)
    t[:3, :3] = rot
    t[:3, 3] = rng.uniform(-max_shift, max_shift, size=3)
    return t


def make_scan_pair(n: int = 40000, noise: float = 0.004, seed: int = 7):
    """Two partial scans of one object: (source, target, truth) with truth mapping source onto target."""
    rng = np.random.default_rng(seed)
    pts, dirs = surface_points(n, rng)
    target = partial_scan(pts, dirs, np.array([1.0, 0.3, 0.2]), noise, rng)
    source_in_target_frame = partial_scan(pts, dirs, np.array([0.2, 1.0, -0.3]), noise, rng)
    truth = random_rigid_motion(rng)
    inv = np.linalg.inv(truth)
    source = source_in_target_frame @ inv[:3, :3].T + inv[:3, 3]
    return source, target, truth
