#!/usr/bin/env python3
"""Offline design of the precision DSD modulator's constants (precision.cpp).

Prints, per rate family, the resonator feedbacks g[4] and the error gains
a[8] of the eighth-order loop, and the input low-pass sections. Needs numpy
and scipy. Usage: dsd_ntf_design.py
"""
import numpy as np
from scipy import signal

BAND = 20000.0
FAMILIES = ((2822400.0, 1.4), (5644800.0, 1.3), (11289600.0, 1.3))  # rate, out-of-band gain


def zero_angles(rate):
    # Legendre roots: the monic degree-8 polynomial with least mean square
    # over the band, so the least in-band noise for zeros on the unit circle.
    r = np.polynomial.legendre.legroots([0] * 8 + [1])
    return np.sort(r[r > 0]) * 2 * np.pi * BAND / rate


def poles(zeros, hinf):
    # Maximally flat high-pass pattern, scaled until |H(-1)| = hinf.
    order = len(zeros)

    def pattern(x):
        me2 = -0.5 * x ** (2.0 / order)
        w = (2 * np.arange(1, order + 1) - 1) * np.pi / order
        mb2 = 1 + me2 * np.exp(1j * w)
        p = mb2 - np.sqrt(mb2 ** 2 - 1)
        p[abs(p) > 1] = 1 / p[abs(p) > 1]
        return p

    lo, hi = 1e-12, 1.0
    for _ in range(200):
        m = np.sqrt(lo * hi)
        h = abs(np.prod(-1 - zeros) / np.prod(-1 - pattern(m)))
        lo, hi = (lo, m) if h > hinf else (m, hi)
    return pattern(lo)


def realise(w, p):
    # State matrix on the old states of the resonator cascade (see
    # precision.cpp), then the error gains a with det(zI - A + a c') = D(z).
    g = 2 - 2 * np.cos(w)
    A = np.zeros((8, 8))
    for k in range(4):
        i, j = 2 * k, 2 * k + 1
        A[i, i], A[i, j], A[j, j], A[j, i] = 1, -g[k], 1 - g[k], 1
        if k:
            A[i, i - 1] = A[j, i - 1] = 1
    c = np.zeros(8)
    c[-1] = 1
    D = np.poly(p).real
    rows, rhs = [], []
    for z in 2.0 * np.exp(1j * np.linspace(0.1, 3.0, 24)):
        M = z * np.eye(8) - A
        det = np.linalg.det(M)
        rows.append(det * np.linalg.solve(M.T, c))
        rhs.append(np.polyval(D, z) - det)
    R, y = np.array(rows), np.array(rhs)
    aeff = np.linalg.lstsq(np.vstack([R.real, R.imag]), np.concatenate([y.real, y.imag]),
                           rcond=None)[0]
    a = aeff.copy()
    for k in range(4):  # the second state of a pair also takes the first's input
        a[2 * k + 1] -= aeff[2 * k]
    return g, a


for rate, hinf in FAMILIES:
    w = zero_angles(rate)
    z = np.concatenate([np.exp(1j * w), np.exp(-1j * w)])
    g, a = realise(w, poles(z, hinf))
    print(f"rate {rate:.0f}, out-of-band gain {hinf}")
    print("  g =", ", ".join(f"{x:.17g}" for x in g))
    print("  a =", ", ".join(f"{x:.17g}" for x in a))
sos = signal.butter(4, 100000 / (2822400 / 2), output="sos")
print("input low-pass (b0 b1 b2, a1 a2), any rate at rate / 28.224:")
for s in sos:
    print("  ", ", ".join(f"{x:.17g}" for x in (s[0], s[1], s[2], s[4], s[5])))
