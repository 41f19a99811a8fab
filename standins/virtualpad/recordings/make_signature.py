#!/usr/bin/env python3
"""Writes signature.txt: "J. Smith" written in cursive on a 15360 x 9600 pad.

Each stroke is a Catmull-Rom curve through hand-placed points, travelled with
the pen slowing down in tight turns and at both ends, sampled every 4 to 8 ms
with a little tremor. Between strokes the lifted pen reports where it hovers.
Run it again after changing a stroke: python3 make_signature.py > signature.txt
"""
import math
import random

WIDTH, HEIGHT = 15360, 9600

STROKES = [
    # J: top flourish, stem, descender loop, exit to the right
    [(2600, 2650), (3250, 2300), (3950, 2450), (3550, 2700), (3350, 3800), (3200, 5200),
     (2950, 6600), (2500, 7250), (2050, 7000), (2150, 6350), (2800, 5950)],
    # the period
    [(4280, 5900), (4330, 5960), (4300, 6010)],
    # Smith, one stroke
    [(5150, 5900), (5550, 4300), (6000, 2700), (5500, 2650), (5300, 3150), (5750, 3850),
     (6200, 4650), (6100, 5650), (5600, 6050), (5250, 5800), (5900, 5750), (6450, 5400),
     (6700, 4700), (7000, 4650), (7150, 5900), (7300, 4750), (7600, 4650), (7700, 5900),
     (7850, 4750), (8150, 4650), (8250, 5600), (8450, 5950), (8750, 5450), (8900, 4700),
     (8950, 5700), (9150, 5950), (9500, 5300), (9750, 3300), (9700, 5500), (9850, 5950),
     (10200, 5600), (10500, 4200), (10800, 2650), (10600, 2400), (10450, 2850), (10500, 5950),
     (10700, 4900), (11050, 4650), (11250, 5200), (11300, 5900), (11700, 5850), (12600, 5300)],
    # dot on the i
    [(8930, 4000), (8970, 4040)],
    # cross of the t
    [(9300, 4150), (9800, 4050), (10250, 3950)],
    # underline
    [(4900, 7150), (7000, 6900), (10000, 6850), (12800, 6500)],
]


def catmull_rom(points, samples_per_segment=60):
    pts = [points[0]] + points + [points[-1]]
    out = []
    for i in range(1, len(pts) - 2):
        p0, p1, p2, p3 = pts[i - 1], pts[i], pts[i + 1], pts[i + 2]
        for s in range(samples_per_segment):
            t = s / samples_per_segment
            t2, t3 = t * t, t * t * t
            out.append(tuple(0.5 * (2 * p1[k] + (-p0[k] + p2[k]) * t
                                    + (2 * p0[k] - 5 * p1[k] + 4 * p2[k] - p3[k]) * t2
                                    + (-p0[k] + 3 * p1[k] - 3 * p2[k] + p3[k]) * t3) for k in (0, 1)))
    out.append(points[-1])
    return out


def timed_path(points, top_speed):
    """Dense points with the time (ms) the pen reaches each one."""
    dense = catmull_rom(points)
    if len(dense) < 3:
        return [(0.0, dense[0]), (20.0, dense[-1])]
    total = sum(math.dist(a, b) for a, b in zip(dense, dense[1:]))
    times, travelled, now = [0.0], 0.0, 0.0
    for i in range(1, len(dense)):
        step = math.dist(dense[i - 1], dense[i])
        travelled += step
        # Turning angle at this point slows the pen; so do the stroke's ends.
        a, b, c = dense[i - 1], dense[i], dense[min(i + 1, len(dense) - 1)]
        h1 = math.atan2(b[1] - a[1], b[0] - a[0])
        h2 = math.atan2(c[1] - b[1], c[0] - b[0])
        turn = abs((h2 - h1 + math.pi) % (2 * math.pi) - math.pi)
        ends = math.sin(math.pi * min(max(travelled / total, 0.04), 0.96))
        speed = top_speed * max(ends, 0.3) / (1 + 12 * turn)
        now += step / max(speed, 0.3)
        times.append(now)
    return list(zip(times, dense))


def position_at(path, t):
    lo, hi = 0, len(path) - 1
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if path[mid][0] <= t:
            lo = mid
        else:
            hi = mid
    (t0, p0), (t1, p1) = path[lo], path[hi]
    f = 0.0 if t1 == t0 else min(max((t - t0) / (t1 - t0), 0.0), 1.0)
    return p0[0] + (p1[0] - p0[0]) * f, p0[1] + (p1[1] - p0[1]) * f


def clamp(value, top):
    return max(0, min(top, int(round(value))))


def main():
    random.seed(1500)
    lines = ["tallowmark-pad-recording 1",
             '# "J. Smith" in cursive, written by make_signature.py',
             f"range {WIDTH} {HEIGHT}"]
    now = 0.0
    last = None
    for number, stroke in enumerate(STROKES):
        if last is not None:
            # Pen lifted: a short hover towards the next stroke.
            gap = random.uniform(160, 260)
            start, hover = now, now
            while hover - start < gap:
                f = (hover - start) / gap
                x = last[0] + (stroke[0][0] - last[0]) * f
                y = last[1] + (stroke[0][1] - last[1]) * f - 400 * math.sin(math.pi * f)
                lines.append(f"{int(hover)} pen up {clamp(x, WIDTH - 1)} {clamp(y, HEIGHT - 1)}")
                hover += random.uniform(6, 8)
            now = start + gap
        path = timed_path(stroke, top_speed=48.0 if number != 5 else 60.0)
        duration = path[-1][0]
        t = 0.0
        while True:
            x, y = position_at(path, min(t, duration))
            x += random.gauss(0, 4)
            y += random.gauss(0, 4)
            lines.append(f"{int(now + t)} pen down {clamp(x, WIDTH - 1)} {clamp(y, HEIGHT - 1)}")
            if t >= duration:
                break
            t += random.uniform(4, 8)
        now += t + random.uniform(4, 8)
        last = stroke[-1]
        lines.append(f"{int(now)} pen up {clamp(last[0], WIDTH - 1)} {clamp(last[1], HEIGHT - 1)}")
    lines.append(f"{int(now + 450)} button ok")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
