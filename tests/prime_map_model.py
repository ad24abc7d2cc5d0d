"""A plain-Python model of the prime-bucket voxel map, written from its rules
(bucket counts, growth points, linking and relinking), used by the voxel tests
as an independent reference for output order."""

import bisect
import math

MASK = (1 << 64) - 1
C = 0x9E3779B9

PRIMES = [
    2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37, 41, 43, 47, 53, 59, 61, 67, 71, 73, 79, 83, 89, 97, 103, 109, 113,
    127, 137, 139, 149, 157, 167, 179, 193, 199, 211, 227, 241, 257, 277, 293, 313, 337, 359, 383, 409, 439, 467,
    503, 541, 577, 619, 661, 709, 761, 823, 887, 953, 1031, 1109, 1193, 1289, 1381, 1493, 1613, 1741, 1879, 2029,
    2179, 2357, 2549, 2753, 2971, 3209, 3469, 3739, 4027, 4349, 4703, 5087, 5503, 5953, 6427, 6949, 7517, 8123,
    8783, 9497, 10273, 11113, 12011, 12983, 14033, 15173, 16411, 17749, 19183, 20753, 22447, 24281, 26267, 28411,
    30727, 33223, 35933, 38873, 42043, 45481, 49201, 53201, 57557, 62233, 67307, 72817, 78779, 85229, 92203, 99733,
]
SMALL = {0: 1, 1: 2, 2: 2, 3: 3, 4: 5, 5: 5, 6: 7, 7: 7, 8: 11, 9: 11, 10: 11, 11: 11, 12: 13}
BEFORE_BEGIN = "before-begin"


def key_hash(k):
    s = (k[0] + C) & MASK
    s ^= ((k[1] & MASK) + C + ((s << 6) & MASK) + (s >> 2)) & MASK
    s ^= ((k[2] & MASK) + C + ((s << 6) & MASK) + (s >> 2)) & MASK
    return s


def next_bkt(n):
    if n in SMALL:
        return SMALL[n]
    assert n <= PRIMES[-1], "model covers small maps only"
    return PRIMES[bisect.bisect_left(PRIMES, n)]


class PrimeMap:
    def __init__(self, hint=None):
        self.next = []  # per node: index of the following node, or None
        self.keys = []
        self.hashes = []
        self.values = []
        self.slots = [None]
        self.head = None
        self.next_resize = 0
        if hint is not None:
            n = next_bkt(hint)
            if n >= 2:
                self.rehash(n)
            self.next_resize = n

    def _succ(self, pred):
        return self.head if pred == BEFORE_BEGIN else self.next[pred]

    def _set_succ(self, pred, node):
        if pred == BEFORE_BEGIN:
            self.head = node
        else:
            self.next[pred] = node

    def find(self, k):
        h = key_hash(k)
        n = len(self.slots)
        b = h % n
        if self.slots[b] is None:
            return None
        p = self._succ(self.slots[b])
        while p is not None:
            if self.hashes[p] % n != b:
                return None
            if self.keys[p] == k:
                return p
            p = self.next[p]
        return None

    def rehash(self, n):
        slots = [None] * n
        p, self.head, prev_first = self.head, None, 0
        while p is not None:
            nxt = self.next[p]
            b = self.hashes[p] % n
            if slots[b] is None:
                self.next[p] = self.head
                self.head = p
                slots[b] = BEFORE_BEGIN
                if self.next[p] is not None:
                    slots[prev_first] = p
                prev_first = b
            else:
                self.next[p] = self._succ(slots[b])
                self._set_succ(slots[b], p)
            p = nxt
        self.slots = slots

    def find_or_insert(self, k, make):
        i = self.find(k)
        if i is not None:
            return i
        count = len(self.keys) + 1
        if count > self.next_resize:
            x = count if self.next_resize else max(count, 11)
            if x >= len(self.slots):
                new = next_bkt(max(math.floor(x / 1.0) + 1, 2 * len(self.slots)))
                self.rehash(new)
                self.next_resize = new
            else:
                self.next_resize = len(self.slots)
        i = len(self.keys)
        h = key_hash(k)
        self.next.append(None)
        self.keys.append(k)
        self.hashes.append(h)
        self.values.append(make())
        b = h % len(self.slots)
        if self.slots[b] is not None:
            self.next[i] = self._succ(self.slots[b])
            self._set_succ(self.slots[b], i)
        else:
            self.next[i] = self.head
            self.head = i
            if self.next[i] is not None:
                self.slots[self.hashes[self.next[i]] % len(self.slots)] = i
            self.slots[b] = BEFORE_BEGIN
        return i

    def items(self):
        p = self.head
        while p is not None:
            yield self.keys[p], self.values[p]
            p = self.next[p]


def floor_index(q):
    """floor(q) as int32 with saturation; NaN gives 0."""
    if math.isnan(q):
        return 0
    if q == math.inf:
        return 2147483647
    if q == -math.inf:
        return -2147483648
    return max(-2147483648, min(2147483647, math.floor(q)))
