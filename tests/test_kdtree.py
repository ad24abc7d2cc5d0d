"""KDTreeFlann and the search-parameter classes.

Results are checked against a brute-force NumPy scan (distances bit for bit,
with the library's summation grouping) and, for the order among equal
distances, against a small pure-Python transcription of the tree's build and
traversal rules written independently of the C++ code.
"""
import copy
import inspect
import math
import sys

import numpy as np
import pytest

from ombrix.cpu.pybind import geometry, utility
from ombrix.cpu.pybind.pipelines import registration

KDTreeFlann = geometry.KDTreeFlann
DBL_MAX = sys.float_info.max


# ---------------------------------------------------------------- references


def grouped_sq_dists(points, q):
    """Squared distances from q to every row of `points` (n, dim), summed in the
    library's order: (d0 + d1) + d2 for dim 3, else groups of four added to a
    running sum, then the remainder one by one."""
    d = (points - q) ** 2
    n, dim = points.shape
    if dim == 3:
        return (d[:, 0] + d[:, 1]) + d[:, 2]
    acc = np.zeros(n)
    j = 0
    while j + 3 < dim:
        acc = acc + (((d[:, j] + d[:, j + 1]) + d[:, j + 2]) + d[:, j + 3])
        j += 4
    for jj in range(j, dim):
        acc = acc + d[:, jj]
    return acc


def introsort(recs):
    """In-place introsort of (payload, key) lists, keyed on key with '<'."""

    def less(a, b):
        return a[1] < b[1]

    def adjust_heap(first, hole, length, value):
        top = hole
        child = hole
        while child < (length - 1) // 2:
            child = 2 * (child + 1)
            if less(recs[first + child], recs[first + child - 1]):
                child -= 1
            recs[first + hole] = recs[first + child]
            hole = child
        if length % 2 == 0 and child == (length - 2) // 2:
            child = 2 * (child + 1)
            recs[first + hole] = recs[first + child - 1]
            hole = child - 1
        parent = (hole - 1) // 2 if hole > 0 else 0
        while hole > top and less(recs[first + parent], value):
            recs[first + hole] = recs[first + parent]
            hole = parent
            parent = (hole - 1) // 2 if hole > 0 else 0
        recs[first + hole] = value

    def heap_sort(first, last):
        length = last - first
        for parent in range((length - 2) // 2, -1, -1):
            adjust_heap(first, parent, length, recs[first + parent])
        while length > 1:
            length -= 1
            value = recs[first + length]
            recs[first + length] = recs[first]
            adjust_heap(first, 0, length, value)

    def swap(i, j):
        recs[i], recs[j] = recs[j], recs[i]

    def loop(first, last, depth):
        while last - first > 16:
            if depth == 0:
                heap_sort(first, last)
                return
            depth -= 1
            a, b, c = first + 1, first + (last - first) // 2, last - 1
            if less(recs[a], recs[b]):
                if less(recs[b], recs[c]):
                    swap(first, b)
                elif less(recs[a], recs[c]):
                    swap(first, c)
                else:
                    swap(first, a)
            elif less(recs[a], recs[c]):
                swap(first, a)
            elif less(recs[b], recs[c]):
                swap(first, c)
            else:
                swap(first, b)
            i, j = first + 1, last
            while True:
                while less(recs[i], recs[first]):
                    i += 1
                j -= 1
                while less(recs[first], recs[j]):
                    j -= 1
                if i >= j:
                    break
                swap(i, j)
                i += 1
            loop(i, last, depth)
            last = i

    def linear_insert(i):
        v = recs[i]
        while less(v, recs[i - 1]):
            recs[i] = recs[i - 1]
            i -= 1
        recs[i] = v

    def insertion(first, last):
        for i in range(first + 1, last):
            if less(recs[i], recs[first]):
                v = recs[i]
                recs[first + 1:i + 1] = recs[first:i]
                recs[first] = v
            else:
                linear_insert(i)

    n = len(recs)
    if n == 0:
        return
    loop(0, n, 2 * (n.bit_length() - 1))
    if n > 16:
        insertion(0, 16)
        for i in range(16, n):
            linear_insert(i)
    else:
        insertion(0, n)


class RefTree:
    """The k-d tree rules transcribed literally (small inputs only)."""

    def __init__(self, pts):
        self.pts = [list(map(float, p)) for p in pts]
        self.dim = len(self.pts[0])
        self.perm = list(range(len(self.pts)))
        self.nodes = []
        box = [[self.pts[0][d], self.pts[0][d]] for d in range(self.dim)]
        for p in self.pts[1:]:
            for d in range(self.dim):
                if p[d] < box[d][0]:
                    box[d][0] = p[d]
                if p[d] > box[d][1]:
                    box[d][1] = p[d]
        self.divide(0, len(self.pts), box)
        self.bounds = box

    def v(self, slot, d):
        return self.pts[self.perm[slot]][d]

    def minmax(self, left, right, d):
        lo = hi = self.v(left, d)
        for i in range(left + 1, right):
            x = self.v(i, d)
            if x < lo:
                lo = x
            if x > hi:
                hi = x
        return lo, hi

    def divide(self, left, right, box):
        node = len(self.nodes)
        self.nodes.append(None)
        n = right - left
        if n <= 15:
            self.nodes[node] = ("leaf", left, right)
            for d in range(self.dim):
                box[d][0], box[d][1] = self.minmax(left, right, d)
            return node
        max_span = box[0][1] - box[0][0]
        for d in range(1, self.dim):
            if box[d][1] - box[d][0] > max_span:
                max_span = box[d][1] - box[d][0]
        max_spread, cut_dim = -1.0, 0
        for d in range(self.dim):
            if box[d][1] - box[d][0] > 0.99999 * max_span:
                lo, hi = self.minmax(left, right, d)
                if hi - lo > max_spread:
                    cut_dim, max_spread = d, hi - lo
        mid = (box[cut_dim][0] + box[cut_dim][1]) * 0.5
        lo, hi = self.minmax(left, right, cut_dim)
        cut = lo if mid < lo else (hi if hi < mid else mid)
        p = self.perm

        def val(i):
            return self.pts[p[left + i]][cut_dim]

        a, b = 0, n - 1
        while True:
            while a <= b and val(a) < cut:
                a += 1
            while b != 0 and a <= b and val(b) >= cut:
                b -= 1
            if a > b or b == 0:
                break
            p[left + a], p[left + b] = p[left + b], p[left + a]
            a += 1
            b -= 1
        below = a
        b = n - 1
        while True:
            while a <= b and val(a) <= cut:
                a += 1
            while b != 0 and a <= b and val(b) > cut:
                b -= 1
            if a > b or b == 0:
                break
            p[left + a], p[left + b] = p[left + b], p[left + a]
            a += 1
            b -= 1
        not_above = a
        idx = below if below > n // 2 else (not_above if not_above < n // 2 else n // 2)
        lbox = [list(x) for x in box]
        lbox[cut_dim][1] = cut
        first = self.divide(left, left + idx, lbox)
        rbox = [list(x) for x in box]
        rbox[cut_dim][0] = cut
        second = self.divide(left + idx, right, rbox)
        for d in range(self.dim):
            box[d][0] = min(lbox[d][0], rbox[d][0])
            box[d][1] = max(lbox[d][1], rbox[d][1])
        self.nodes[node] = ("branch", cut_dim, lbox[cut_dim][1], rbox[cut_dim][0], first, second)
        return node

    def dist(self, q, i):
        p = self.pts[i]
        d = [(q[j] - p[j]) * (q[j] - p[j]) for j in range(self.dim)]
        if self.dim == 3:
            return (d[0] + d[1]) + d[2]
        acc, j = 0.0, 0
        while j + 3 < self.dim:
            acc += ((d[j] + d[j + 1]) + d[j + 2]) + d[j + 3]
            j += 4
        for jj in range(j, self.dim):
            acc += d[jj]
        return acc

    def walk(self, q, rs):
        axis = [0.0] * self.dim
        s = 0.0
        for i in range(self.dim):
            if q[i] < self.bounds[i][0]:
                axis[i] = (q[i] - self.bounds[i][0]) ** 2
                s += axis[i]
            if q[i] > self.bounds[i][1]:
                axis[i] = (q[i] - self.bounds[i][1]) ** 2
                s += axis[i]

        def level(ni, min_dist):
            nd = self.nodes[ni]
            if nd[0] == "leaf":
                worst = rs.worst()
                for i in range(nd[1], nd[2]):
                    d = self.dist(q, self.perm[i])
                    if d < worst:
                        rs.add(self.perm[i], d)
                return
            _, sd, lo, hi, first, second = nd
            v = q[sd]
            if (v - lo) + (v - hi) < 0:
                best, other, cut = first, second, (v - hi) * (v - hi)
            else:
                best, other, cut = second, first, (v - lo) * (v - lo)
            level(best, min_dist)
            saved = axis[sd]
            new = (min_dist + cut) - saved
            axis[sd] = cut
            if rs.worst() >= new:
                level(other, new)
            axis[sd] = saved

        level(0, s)

    def knn(self, q, k):
        class Knn:
            def __init__(self, cap):
                self.idx, self.dist, self.count = [0] * cap, [0.0] * cap, 0
                self.dist[cap - 1] = DBL_MAX

            def worst(self):
                return self.dist[-1]

            def add(self, i, d):
                g = self.count
                while g > 0 and self.dist[g - 1] > d:
                    if g < k:
                        self.dist[g], self.idx[g] = self.dist[g - 1], self.idx[g - 1]
                    g -= 1
                if g < k:
                    self.dist[g], self.idx[g] = d, i
                if self.count < k:
                    self.count += 1

        if k == 0:
            return [], []
        rs = Knn(k)
        self.walk(q, rs)
        return rs.idx[:rs.count], rs.dist[:rs.count]

    def radius(self, q, r):
        r2 = r * r

        class Rad:
            hits = []

            def worst(self):
                return r2

            def add(self, i, d):
                self.hits.append((i, d))

        rs = Rad()
        rs.hits = []
        self.walk(q, rs)
        introsort(rs.hits)
        return [h[0] for h in rs.hits], [h[1] for h in rs.hits]


def search(tree, method, q, *args):
    k, idx, dist = getattr(tree, method)(q, *args)
    return k, list(idx), list(dist)


def hexes(values):
    return [float(v).hex() for v in values]


def cloud_of(points):
    pc = geometry.PointCloud()
    pc.points = utility.Vector3dVector(np.asarray(points, dtype=np.float64).reshape(-1, 3))
    return pc


# ---------------------------------------------------------------- brute force


@pytest.mark.parametrize("dim", [1, 2, 3, 4, 5, 33])
def test_matches_brute_force(dim):
    rng = np.random.default_rng(dim)
    n = 700
    pts = rng.uniform(-1, 1, size=(n, dim))
    tree = KDTreeFlann(np.ascontiguousarray(pts.T))
    radius = {1: 0.05, 2: 0.2, 3: 0.3, 4: 0.5, 5: 0.6, 33: 3.2}[dim]
    for q in rng.uniform(-1.2, 1.2, size=(15, dim)):
        d = grouped_sq_dists(pts, q)
        order = np.argsort(d, kind="stable")
        for knn in (1, 10, 50):
            k, idx, dist = search(tree, "search_knn_vector_xd", q, knn)
            assert k == knn
            # Random data has no ties: neighbours and distances are unique.
            assert idx == list(order[:knn])
            assert hexes(dist) == hexes(d[order[:knn]])
        inside = order[: int(np.count_nonzero(d < radius * radius))]
        k, idx, dist = search(tree, "search_radius_vector_xd", q, radius)
        assert k == len(inside) and idx == list(inside)
        assert hexes(dist) == hexes(d[inside])
        k, idx, dist = search(tree, "search_hybrid_vector_xd", q, radius, 7)
        assert idx == list(inside[:7]) and hexes(dist) == hexes(d[inside[:7]])
        if dim == 3:
            assert search(tree, "search_knn_vector_3d", q, 10) == search(tree, "search_knn_vector_xd", q, 10)


def test_dimension_33_uses_four_at_a_time_grouping():
    # A plain left-to-right sum differs from the grouped one on some of these.
    rng = np.random.default_rng(33)
    pts = rng.uniform(-1, 1, size=(300, 33)) * 10.0 ** rng.integers(-8, 8, size=(300, 33))
    q = rng.uniform(-1, 1, size=33)
    tree = KDTreeFlann(np.ascontiguousarray(pts.T))
    k, idx, dist = search(tree, "search_knn_vector_xd", q, 300)
    d = grouped_sq_dists(pts, q)
    assert hexes(dist) == hexes(d[idx])
    plain = np.zeros(300)
    for j in range(33):
        plain = plain + (pts[:, j] - q[j]) ** 2
    assert np.any(plain != d)


# ---------------------------------------------------------------- order of ties


@pytest.mark.parametrize("dim, seed", [(1, 0), (2, 1), (3, 2), (3, 3), (4, 4), (5, 5)])
def test_tie_order_on_grids_matches_reference(dim, seed):
    rng = np.random.default_rng(seed)
    # Repeated grid points: many exactly equal distances and duplicates.
    pts = rng.integers(0, 4, size=(260, dim)).astype(np.float64) * 0.5
    ref = RefTree(pts)
    tree = KDTreeFlann(np.ascontiguousarray(pts.T))
    for q in rng.integers(0, 4, size=(12, dim)).astype(np.float64) * 0.5 + rng.choice([0.0, 0.25], size=(12, dim)):
        for knn in (1, 5, 40, 260):
            assert list(search(tree, "search_knn_vector_xd", q, knn)[1:]) == list(ref.knn(q.tolist(), knn))
        for r in (0.5, 0.8, 1.2):
            assert list(search(tree, "search_radius_vector_xd", q, r)[1:]) == list(ref.radius(q.tolist(), r))


def test_identical_points_leaf_boundary():
    # 15 points: one leaf, scanned in input order.
    tree = KDTreeFlann(cloud_of([[1.0, 2.0, 3.0]] * 15))
    assert search(tree, "search_knn_vector_3d", [1, 2, 3], 15)[1] == list(range(15))
    # 16 points: the root splits at n/2; the query lies on the split, which
    # sends the traversal to the second child first.
    tree = KDTreeFlann(cloud_of([[1.0, 2.0, 3.0]] * 16))
    assert search(tree, "search_knn_vector_3d", [1, 2, 3], 16)[1] == list(range(8, 16)) + list(range(8))
    # 17 points, radius search: traversal order 8..16, 0..7, then the
    # introsort's permutation of 17 equal keys.
    tree = KDTreeFlann(cloud_of([[1.0, 2.0, 3.0]] * 17))
    k, idx, dist = search(tree, "search_radius_vector_3d", [1, 2, 3], 1.0)
    assert idx == [16, 7, 6, 5, 4, 3, 2, 1, 0, 8, 15, 14, 13, 12, 11, 10, 9]
    assert dist == [0.0] * 17


def test_hundred_identical_points():
    tree = KDTreeFlann(cloud_of([[0.5, -1.0, 2.0]] * 100))
    k, idx, dist = search(tree, "search_knn_vector_3d", [0.5, -1.0, 2.0], 100)
    assert k == 100 and sorted(idx) == list(range(100)) and dist == [0.0] * 100
    assert idx == ref_knn([[0.5, -1.0, 2.0]] * 100, [0.5, -1.0, 2.0], 100)


def ref_knn(pts, q, k):
    return RefTree(pts).knn(q, k)[0]


def test_last_place_tie_keeps_first_found():
    # Points 1 and 2 are both at distance 1 from the query; with k = 2 the one
    # met first in the traversal (input order within the single leaf) is kept.
    tree = KDTreeFlann(cloud_of([[0, 0, 0], [1, 0, 0], [-1, 0, 0], [5, 5, 5]]))
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 2) == (2, [0, 1], [0.0, 1.0])
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 3) == (3, [0, 1, 2], [0.0, 1.0, 1.0])


# ---------------------------------------------------------------- edge cases


def simple_tree():
    return KDTreeFlann(cloud_of([[0, 0, 0], [1, 0, 0], [0, 2, 0], [0, 0, 3]]))


def test_knn_counts():
    tree = simple_tree()
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 0) == (0, [], [])
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], -1) == (-1, [], [])
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 100) == (4, [0, 1, 2, 3], [0.0, 1.0, 4.0, 9.0])


@pytest.mark.parametrize("radius, expected", [(0.0, []), (1.0, [0]), (1.5, [0, 1]), (-1.5, [0, 1]), (-0.0, []),
                                              (math.inf, [0, 1, 2, 3]), (math.nan, [])])
def test_radius_values(radius, expected):
    k, idx, _ = search(simple_tree(), "search_radius_vector_3d", [0, 0, 0], radius)
    assert (k, idx) == (len(expected), expected)


def test_hybrid():
    tree = simple_tree()
    # max_nn 5 with a radius admitting 2 of the nearest.
    assert search(tree, "search_hybrid_vector_3d", [0, 0, 0], 1.5, 5) == (2, [0, 1], [0.0, 1.0])
    assert search(tree, "search_hybrid_vector_3d", [0, 0, 0], 10.0, 2) == (2, [0, 1], [0.0, 1.0])
    assert search(tree, "search_hybrid_vector_3d", [0, 0, 0], 10.0, 0) == (0, [], [])
    assert search(tree, "search_hybrid_vector_3d", [0, 0, 0], 10.0, -1) == (-1, [], [])
    assert search(tree, "search_hybrid_vector_3d", [0, 0, 0], math.nan, 3) == (0, [], [])
    # A point exactly at the radius is outside.
    assert search(tree, "search_hybrid_vector_3d", [0, 0, 0], 2.0, 4) == (2, [0, 1], [0.0, 1.0])


@pytest.mark.parametrize("method, args", [("search_knn_vector_3d", (3,)), ("search_radius_vector_3d", (10.0,)),
                                          ("search_hybrid_vector_3d", (10.0, 3))])
@pytest.mark.parametrize("q", [[math.nan, 0, 0], [0, 0, math.nan], [math.inf, 0, 0], [-math.inf, math.inf, 0]])
def test_non_finite_queries_return_nothing(method, args, q):
    assert search(simple_tree(), method, q, *args) == (0, [], [])


def test_non_finite_points_terminate():
    rng = np.random.default_rng(9)
    pts = rng.uniform(-1, 1, size=(3000, 3))
    pts[::7, 0] = np.nan
    pts[1::11, 1] = np.inf
    pts[2::13, 2] = -np.inf
    pts[0] = np.nan
    tree = KDTreeFlann(cloud_of(pts))
    k, idx, dist = search(tree, "search_knn_vector_3d", [0, 0, 0], 10)
    assert all(math.isfinite(d) for d in dist)
    finite = np.all(np.isfinite(pts), axis=1)
    assert all(finite[i] for i in idx)
    k, idx, dist = search(tree, "search_radius_vector_3d", [0, 0, 0], 0.3)
    assert all(finite[i] for i in idx)
    # Whole-NaN and infinite-span inputs.
    for bad in (np.full((500, 3), np.nan), np.tile([[-np.inf, 0, 0], [np.inf, 0, 0]], (300, 1))):
        tree = KDTreeFlann(cloud_of(bad))
        assert search(tree, "search_knn_vector_3d", [0, 0, 0], 5)[0] in (0, 5)
    # Distances that overflow to +inf are never reported.
    tree = KDTreeFlann(cloud_of([[1e200, 0, 0], [0, 0, 0]]))
    assert search(tree, "search_knn_vector_3d", [-1e150, 0, 0], 2) == (1, [1], [(-1e150) ** 2])


# ---------------------------------------------------------------- construction


def test_no_tree():
    for tree in (KDTreeFlann(), KDTreeFlann(None), KDTreeFlann(data=None), KDTreeFlann(geometry.PointCloud()),
                 KDTreeFlann(np.zeros((3, 0))), KDTreeFlann(np.zeros((0, 5)))):
        assert search(tree, "search_knn_vector_3d", [0, 0, 0], 1) == (-1, [], [])
        assert search(tree, "search_radius_vector_xd", np.zeros(3), 1.0) == (-1, [], [])
        k, idx, dist = tree.search_hybrid_vector_3d([0, 0, 0], 1.0, 1)
        assert isinstance(idx, utility.IntVector) and isinstance(dist, utility.DoubleVector)


def test_array_cloud_and_feature_agree():
    rng = np.random.default_rng(4)
    pts = rng.uniform(size=(200, 3))
    f = registration.Feature()
    f.data = pts.T
    trees = [KDTreeFlann(cloud_of(pts)), KDTreeFlann(pts.T), KDTreeFlann(np.asfortranarray(pts.T)), KDTreeFlann(f)]
    t = KDTreeFlann()
    assert t.set_matrix_data(pts.T) is True
    trees.append(t)
    t = KDTreeFlann()
    assert t.set_feature(f) is True
    trees.append(t)
    t = KDTreeFlann()
    assert t.set_geometry(cloud_of(pts)) is True
    trees.append(t)
    results = [search(t, "search_knn_vector_3d", [0.5, 0.5, 0.5], 20) for t in trees]
    assert all(r == results[0] for r in results)


def test_n_by_3_array_is_three_points():
    pts = np.arange(12.0).reshape(4, 3)
    tree = KDTreeFlann(pts)  # rows are dimensions: three 4-D points
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 1) == (-1, [], [])
    k, idx, dist = search(tree, "search_knn_vector_xd", pts[:, 1].copy(), 3)
    assert (k, idx) == (3, [1, 0, 2]) and dist == [0.0, 4.0, 4.0]


def test_set_methods_replace_and_clear():
    tree = KDTreeFlann(cloud_of([[0, 0, 0]]))
    assert tree.set_geometry(geometry.PointCloud()) is False
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 1) == (-1, [], [])
    assert tree.set_matrix_data(np.ones((2, 3))) is True
    assert search(tree, "search_knn_vector_xd", np.ones(2), 5)[0] == 3
    assert tree.set_feature(registration.Feature()) is False
    assert search(tree, "search_knn_vector_xd", np.ones(2), 5)[0] == -1


def test_tree_keeps_its_own_copy():
    pc = cloud_of([[0, 0, 0], [1, 1, 1]])
    tree = KDTreeFlann(pc)
    np.asarray(pc.points)[:] = 5.0
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], 1) == (1, [0], [0.0])


def test_search_param_dispatch():
    tree = simple_tree()
    q = [0.1, 0.2, 0.3]
    assert tree.search_vector_3d(q, geometry.KDTreeSearchParamHybrid(1.5, 2)) == tree.search_hybrid_vector_3d(q, 1.5, 2)
    assert search(tree, "search_vector_3d", q, geometry.KDTreeSearchParamKNN(3)) == search(tree, "search_knn_vector_3d", q, 3)
    assert search(tree, "search_vector_xd", np.array(q), geometry.KDTreeSearchParamRadius(2.5)) == \
        search(tree, "search_radius_vector_3d", q, 2.5)
    assert search(tree, "search_vector_3d", q, geometry.KDTreeSearchParamKNN(-2)) == (-1, [], [])


def test_query_conversion():
    tree = simple_tree()
    assert search(tree, "search_knn_vector_xd", np.zeros(2), 1) == (-1, [], [])
    assert search(tree, "search_knn_vector_3d", np.zeros((1, 3)), 1)[0] == 1
    assert search(tree, "search_knn_vector_3d", (0, 0, 0), 1)[0] == 1
    with pytest.raises(TypeError):
        tree.search_knn_vector_xd(np.zeros(6)[::2], 1)
    with pytest.raises(TypeError):
        tree.search_knn_vector_xd([0.0, 0.0, 0.0], 1)
    with pytest.raises(TypeError):
        tree.search_knn_vector_xd(np.zeros(3, dtype=np.float32), 1)
    with pytest.raises(TypeError, match="expected 3-vector"):
        tree.search_knn_vector_3d([0, 0], 1)
    with pytest.raises(TypeError, match="knn"):
        tree.search_knn_vector_3d([0, 0, 0], 1.0)
    with pytest.raises(OverflowError):
        tree.search_knn_vector_3d([0, 0, 0], 2**31)
    with pytest.raises(TypeError, match="radius"):
        tree.search_radius_vector_3d([0, 0, 0], "1")
    with pytest.raises(TypeError, match="search_param"):
        tree.search_vector_3d([0, 0, 0], 3)
    assert search(tree, "search_knn_vector_3d", [0, 0, 0], True)[0] == 1  # bool is an int


def test_constructor_and_setter_errors():
    with pytest.raises(TypeError):
        KDTreeFlann([[0.0, 1.0], [2.0, 3.0]])
    with pytest.raises(TypeError):
        KDTreeFlann(np.zeros((3, 4), dtype=np.int32))
    with pytest.raises(TypeError):
        KDTreeFlann(np.zeros(3))
    tree = KDTreeFlann()
    with pytest.raises(TypeError, match="geometry"):
        tree.set_geometry(np.zeros((3, 3)))
    with pytest.raises(TypeError, match="feature"):
        tree.set_feature(cloud_of([[0, 0, 0]]))
    with pytest.raises(TypeError):
        tree.set_matrix_data(registration.Feature())


def test_signatures():
    assert str(inspect.signature(KDTreeFlann)) == "(data=None)"
    assert KDTreeFlann.search_hybrid_vector_3d.__text_signature__ == "($self, query, radius, max_nn)"
    assert KDTreeFlann.set_geometry.__text_signature__ == "($self, geometry)"
    assert str(inspect.signature(geometry.KDTreeSearchParamKNN)) == "(knn=30)"
    assert str(inspect.signature(geometry.KDTreeSearchParamHybrid)) == "(radius, max_nn)"
    assert geometry.KDTreeSearchParam.get_search_type.__text_signature__ == "($self)"


# ---------------------------------------------------------------- search parameters


def test_search_param_classes():
    P = geometry.KDTreeSearchParam
    assert (P.KNNSearch, P.RadiusSearch, P.HybridSearch) == (0, 1, 2)
    assert geometry.KDTreeSearchParamKNN.HybridSearch == 2
    with pytest.raises(TypeError):
        P()
    knn = geometry.KDTreeSearchParamKNN()
    assert knn.knn == 30 and repr(knn) == "KDTreeSearchParamKNN(knn=30)" and knn.get_search_type() == 0
    knn.knn = -4
    assert knn.knn == -4 and repr(knn) == "KDTreeSearchParamKNN(knn=-4)" and knn.get_search_type() == 0
    r = geometry.KDTreeSearchParamRadius(1)
    assert repr(r) == "KDTreeSearchParamRadius(radius=1)" and r.get_search_type() == 1
    assert isinstance(r.radius, float)
    r.radius = -0.0
    assert repr(r) == "KDTreeSearchParamRadius(radius=-0)"
    h = geometry.KDTreeSearchParamHybrid(0.25, 10)
    assert (h.radius, h.max_nn, h.get_search_type()) == (0.25, 10, 2)
    assert repr(h) == "KDTreeSearchParamHybrid(radius=0.25, max_nn=10)"
    with pytest.raises(AttributeError):
        h.radius = 1.0
    with pytest.raises(AttributeError):
        h.max_nn = 1
    with pytest.raises(AttributeError):
        del knn.knn
    with pytest.raises(TypeError):
        knn.knn = 1.5
    with pytest.raises(TypeError):
        geometry.KDTreeSearchParamHybrid(0.25)
    with pytest.raises(TypeError):
        geometry.KDTreeSearchParamKNN(None)
    assert isinstance(h, P) and not isinstance(h, geometry.KDTreeSearchParamKNN)


class Floaty:
    def __float__(self):
        return 0.5


@pytest.mark.parametrize("radius, text", [(0.5, "0.5"), (2.0, "2"), (1e-7, "0.0000001"),
                                          (1e21, "1000000000000000000000"), (math.nan, "NaN"), (math.inf, "inf"),
                                          (-math.inf, "-inf"), (-0.0, "-0"), (Floaty(), "0.5"), (3, "3")])
def test_radius_repr(radius, text):
    assert repr(geometry.KDTreeSearchParamRadius(radius)) == f"KDTreeSearchParamRadius(radius={text})"
    assert repr(geometry.KDTreeSearchParamHybrid(radius, 1)) == f"KDTreeSearchParamHybrid(radius={text}, max_nn=1)"


def test_default_object_reprs():
    assert repr(KDTreeFlann()).startswith("<ombrix.cpu.pybind.geometry.KDTreeFlann object at")
    assert not hasattr(KDTreeFlann(), "__copy__")
    with pytest.raises(TypeError):
        copy.copy(KDTreeFlann())


def test_set_geometry_releases_gil_and_holds_borrows():
    import threading

    small = cloud_of([[0, 0, 0], [1, 0, 0]])
    big_pts = np.random.default_rng(1).random((300000, 3))
    big = cloud_of(big_pts)
    tree = KDTreeFlann(small)
    before = search(tree, "search_knn_vector_3d", [0.9, 0, 0], 1)
    expected_after = int(np.argmin(((big_pts - [0.9, 0, 0]) ** 2).sum(axis=1)))
    done = threading.Event()
    outcomes = set()

    def rebuild():
        tree.set_geometry(big)
        done.set()

    t = threading.Thread(target=rebuild)
    t.start()
    while not done.is_set():
        try:
            r = search(tree, "search_knn_vector_3d", [0.9, 0, 0], 1)
            outcomes.add("before" if r == before else ("after" if r[1] == [expected_after] else repr(r)))
        except RuntimeError as e:
            outcomes.add(str(e))
        try:
            big.paint_uniform_color([1, 0, 0])  # a write while the tree reads the cloud
        except RuntimeError as e:
            outcomes.add("cloud: " + str(e))
    t.join()
    assert outcomes <= {"before", "after", "Already mutably borrowed", "cloud: Already borrowed"}
    assert search(tree, "search_knn_vector_3d", [0.9, 0, 0], 1)[1] == [expected_after]
