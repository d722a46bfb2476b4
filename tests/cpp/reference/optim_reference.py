"""Reference values for the C++ optimiser tests, computed independently in Python.

A plain transcription of the random draws and of shuffled complex evolution as the
library describes them, on the raw outputs of NumPy's MT19937 (legacy seeding is the
reference init_genrand, identical to std::mt19937(seed)). Python floats are IEEE
doubles and every formula keeps the library's order of operations, so the results
must agree bit for bit. Sorting uses Python's stable sort: for distinct values (as in
the objectives here) any correct sort gives the same order.

Run: python tests/cpp/reference/optim_reference.py
"""

import numpy as np


class Engine:
    def __init__(self, seed):
        self.bits = np.random.MT19937()
        self.bits._legacy_seeding(seed)

    def output(self):
        return int(self.bits.random_raw())

    def canonical(self):
        a = self.output()
        b = self.output()
        return float((b << 21) + (a >> 11)) * 2.0**-53


def in_box(x, lower, upper):
    # A NaN coordinate counts as inside.
    return not any(v < lo or v > hi for v, lo, hi in zip(x, lower, upper, strict=True))


def ranked(pairs):
    return [index for _, index in sorted(pairs, key=lambda p: -p[0])]


def sce(lower, upper, max_eval, objective, tolerance, max_converge, engine):
    n = len(lower)
    m = 2 * n + 1
    s = n * m
    q = n + 1
    count = 0
    points = []
    values = []
    for _ in range(s):
        value = -1e30
        while value <= -1e30:
            x = [lower[k] + (upper[k] - lower[k]) * engine.canonical() for k in range(n)]
            if in_box(x, lower, upper):
                value = objective(x)
                count += 1
        points.append(x)
        values.append(value)
    ranking = ranked([(values[b], b) for b in range(s)])
    if max_converge < 1:
        return count, points[0]

    def evolve(complex_, steps):
        nonlocal count
        rank = list(range(m))
        alpha = 1.0
        for _ in range(m):
            chosen = []
            while len(chosen) < q:
                u = engine.canonical()
                k = next(k for k in range(m) if u <= (k + 1) / m)
                slot = complex_[rank[k]]
                if slot not in chosen:
                    chosen.append(slot)
            for _ in range(steps):
                sub = ranked([(values[slot], slot) for slot in chosen])
                w = sub[-1]
                xw = points[w]
                vw = values[w]
                c = []
                for d in range(n):
                    total = 0.0
                    for j in range(n):
                        total += points[sub[j]][d]
                    c.append(total / n)
                cand = [(c[d] - xw[d]) * alpha + c[d] for d in range(n)]
                if in_box(cand, lower, upper):
                    value = objective(cand)
                    count += 1
                    alpha = 1.0
                else:
                    alpha *= 0.5
                    value = -1e10
                attempts = 0
                while not in_box(cand, lower, upper) or value <= -1e10:
                    attempts += 1
                    lo = [min(points[i][d] for i in complex_) for d in range(n)]
                    hi = [max(points[i][d] for i in complex_) for d in range(n)]
                    cand = [engine.canonical() * (hi[d] - lo[d]) + lo[d] for d in range(n)]
                    if in_box(cand, lower, upper):
                        value = objective(cand)
                        count += 1
                    if attempts > n:
                        value = vw - 100.0
                        break
                if value > vw:
                    points[w] = cand
                    values[w] = value
                else:
                    c = [(xw[d] + c[d]) * 0.5 for d in range(n)]
                    if in_box(c, lower, upper):
                        value = objective(c)
                        count += 1
                    points[w] = c
                    values[w] = value
            order = ranked([(values[complex_[k]], k) for k in range(m)])
            rank = order

    previous = -1e30
    unchanged = 0
    steps = 1
    while True:
        complexes = [[ranking[c + k * n] for k in range(m)] for c in range(n)]
        for complex_ in complexes:
            evolve(complex_, steps)
        ranking = ranked([(values[b], b) for b in range(s)])
        best = ranking[0]
        f_best = values[best]
        change = abs(f_best - previous)
        if abs(f_best) > 1e-6:
            insignificant = change <= abs(previous * tolerance)
        else:
            insignificant = change <= tolerance
        if insignificant:
            unchanged += 1
            steps = unchanged + 1
        else:
            unchanged = 0
            steps = 1
        if count > max_eval or unchanged >= max_converge:
            break
        previous = f_best
    return count, points[best]


def hill(x):
    a = (x[0] - 1.0) * (x[0] - 1.0)
    b = (x[1] - 2.0) * (x[1] - 2.0)
    c = (x[2] - 11.0) * (x[2] - 11.0)
    return -(a + b + c)


def penalised_hill(x):
    # Distinct penalties, so that no two values tie.
    return -1e20 * (1.0 + x[0]) if x[0] > 0.0 else hill(x)


def main():
    lower = [-1.0, 0.0, 10.0]
    upper = [3.0, 8.0, 12.0]
    for name, objective in (("hill", hill), ("penalised_hill", penalised_hill)):
        for max_converge in (1, 5):
            count, best = sce(lower, upper, 100000, objective, 1e-5, max_converge, Engine(5489))
            params = [v.hex() for v in best]
            print(name, "maxConverge", max_converge, "count", count, "params", params)


if __name__ == "__main__":
    main()
