"""CSV cells of many floats at once, each exactly the text "%.9g" gives, without a Python call per value.

Every value is scaled to a 9-digit integer (a value times a power of ten
up to 1e22, all exact in binary) and rounded to nearest. The one rounding of
that product can matter only when it lands within a hair of .5: such values,
and those outside 1e-13 .. 1e9 (and NaN, infinities), are formatted by
Python one by one. The text of a cell then depends only on its decimal
exponent, its sign and how many of its 9 digits are not trailing zeros: one
precomputed pattern each of constant characters and shown digits, laid
into fixed slots; the slots a cell leaves out hold NUL, dropped at the end.
"""

import numpy as np

_POW10 = 10.0 ** np.arange(23)
# the digits of 0 .. 99999 as ASCII bytes packed into an integer (the first in the lowest byte), and
# how many of them are trailing zeros (5 for 0)
_FIVE = np.arange(100000)
_ASCII5 = sum(((_FIVE // 10 ** (4 - i)) % 10 + ord("0")).astype(np.uint64) << np.uint64(8 * i) for i in range(5))
_ASCII4 = (_ASCII5[:10000] >> np.uint64(8)).astype(np.uint64)  # 0 .. 9999 in four digits
_ZEROS5 = sum((_FIVE % 10 ** k == 0).astype(np.int64) for k in range(1, 6))
_TIE = 2.5e-7  # above the product's rounding error (half an ulp below 2**30 is 6e-8)

_LOW_X, _HIGH_X = -13, 8  # decimal exponents of 1e-13 .. 1e9
# a cell's slots: comma, sign, "0.", three leading zeros, the 9 digits with a possible point after each
# of the first 8, "e-", two exponent digits; a slot a cell leaves out holds NUL
_SLOTS = 28
_DIGIT = np.arange(7, 25, 2)


def _slots(x, negative, significant):
    """(constants, digit shown) of a cell: its slots' constant characters, and which digits it shows."""
    const = np.zeros(_SLOTS, dtype=np.uint8)
    shown = np.zeros(_SLOTS, dtype=np.uint8)
    const[0] = ord(",")
    if negative:
        const[1] = ord("-")
    if x < -4:
        shown[_DIGIT[:significant]] = 1
        if significant > 1:
            const[8] = ord(".")
        const[24:28] = np.frombuffer(b"e-%02d" % -x, dtype=np.uint8)
    elif x < 0:
        const[2:4] = np.frombuffer(b"0.", dtype=np.uint8)
        const[4:4 + (-x - 1)] = ord("0")
        shown[_DIGIT[:significant]] = 1
    else:
        shown[_DIGIT[:max(x + 1, significant)]] = 1
        if significant > x + 1:
            const[8 + 2 * x] = ord(".")
    return const, shown


def _patterns():
    keys = [(x, neg, s) for x in range(_LOW_X, _HIGH_X + 1) for neg in (0, 1) for s in range(1, 10)]
    pairs = [_slots(*k) for k in keys]
    const, shown = np.array([c for c, _ in pairs]), np.array([s for _, s in pairs])
    return const, shown[:, _DIGIT].copy(), np.count_nonzero(const | shown, axis=1)


_CONST, _SHOWN, _LENGTH = _patterns()


def _scaled(a, x):
    k = 8 - x
    ok = (k >= 0) & (k <= 22)
    p = a * _POW10[np.clip(k, 0, 22)]
    return p, np.rint(p), ok


def cells(values):
    """(text, lengths): ',' + '%.9g' % v for every value in row-major order, as one str, and each
    cell's length (values' shape)."""
    v = np.ascontiguousarray(values, dtype=np.float64).ravel()
    a = np.abs(v)
    zero = a == 0
    usual = (a >= 1e-13) & (a < 1e9)
    x = np.floor(np.log10(np.where(usual, a, 1.0))).astype(np.int64)
    p, m, ok = _scaled(a, x)
    # log10 may be one off, and rounding may carry into a tenth digit: those again, one exponent on
    off = np.flatnonzero(usual & ((m >= 1e9) | (m < 1e8)))
    if off.size:
        x[off] += np.where(m[off] >= 1e9, 1, -1)
        p[off], m[off], ok[off] = _scaled(a[off], x[off])
    with np.errstate(invalid="ignore"):
        fast = usual & ok & (m >= 1e8) & (m < 1e9) & (np.abs(p - np.floor(p) - 0.5) > _TIE)
    m = np.where(fast, m, 0).astype(np.int64)
    x = np.where(fast, x, 0)
    high, low = np.divmod(m, 100000)
    significant = np.where(m == 0, 1, 9 - np.where(low == 0, 5 + _ZEROS5[high], _ZEROS5[low]))
    key = ((x - _LOW_X) * 2 + np.signbit(v)) * 9 + significant - 1
    packed = np.empty((v.size, 2), dtype=np.uint64)  # the 9 digits as the first 9 of 16 bytes
    five = _ASCII5[low]
    packed[:, 0] = _ASCII4[high] | (five << np.uint64(32))
    packed[:, 1] = five >> np.uint64(32)
    cells = _CONST[key]
    cells[:, 7:25:2] = packed.view(np.uint8)[:, :9] * _SHOWN[key]
    lengths = _LENGTH[key]
    slow = np.flatnonzero(~(fast | zero))
    if slow.size:
        for i, value in zip(slow.tolist(), v[slow].tolist()):
            raw = ("," + "%.9g" % value).encode()
            cells[i] = 0
            cells[i, :len(raw)] = np.frombuffer(raw, dtype=np.uint8)
            lengths[i] = len(raw)
    text = cells.tobytes().translate(None, b"\x00").decode("ascii")
    return text, lengths.reshape(np.shape(values))
