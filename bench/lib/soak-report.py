"""The soak's summary, from the files bench/soak.sh leaves in its output directory.

Usage: soak-report.py --dir DIR [--fade-in S] [--seed N]
Prints the summary; exits 1 when a check failed or the event log is missing, else 0.

Times: the script's own stamps are Unix seconds; the event log and kestrune-probe follow write
local time, read here in the same time zone (the machine's).
"""
import argparse
import glob
import math
import os
import re
import statistics
import time

LINE = re.compile(r'^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.(\d{3}) (\S+) ?(.*)$')
STATES = ('STOP', 'WAIT', 'OFFLINE', 'Online', 'Silence')
# Unplugged and stopped periods reach from a little before the action to this long after the
# relay is back online and its fade-in is over: the output's own delay and the stabilizer's
# first corrections.
BEFORE = 0.5
AFTER = 1.0


def local_seconds(stamp, ms):
    return time.mktime(time.strptime(stamp, '%Y-%m-%d %H:%M:%S')) + int(ms) / 1000.0


def read_lines(path):
    try:
        with open(path, errors='replace') as f:
            return [l.rstrip('\r\n') for l in f]
    except OSError:
        return []


def read_log(d):
    """Every line of Kestrune.log and its rotated files, oldest first: (time, word, text)."""
    files = sorted(glob.glob(os.path.join(d, 'Kestrune.log*')))
    out = []
    for path in files:
        for line in read_lines(path):
            m = LINE.match(line)
            if m:
                out.append((local_seconds(m.group(1), m.group(2)), m.group(3), m.group(4)))
    out.sort(key=lambda e: e[0])
    return files, out


def read_follow(d):
    states = []
    for line in read_lines(os.path.join(d, 'follow.txt')):
        m = LINE.match(line)
        if m:
            states.append((local_seconds(m.group(1), m.group(2)), m.group(3)))
    return states


def t95(df):
    table = {1: 12.71, 2: 4.30, 3: 3.18, 4: 2.78, 5: 2.57, 6: 2.45, 7: 2.36, 8: 2.31, 9: 2.26,
             10: 2.23, 15: 2.13, 20: 2.09, 30: 2.04}
    for k in sorted(table, reverse=True):
        if df >= k:
            return table[k] if df < 60 or k < 30 else 1.96
    return float('inf')


def trend(points, unit):
    """Least-squares slope per hour of (seconds, value) points and whether it is flat within
    noise: the slope's 95 % confidence interval holds zero, or the change the fitted line makes
    over the run is no larger than twice the standard deviation of the points around it, or than
    one unit of the figure's resolution."""
    if len(points) < 3:
        return None
    xs = [p[0] / 3600.0 for p in points]
    ys = [float(p[1]) for p in points]
    mx, my = statistics.fmean(xs), statistics.fmean(ys)
    sxx = sum((x - mx) ** 2 for x in xs)
    if sxx == 0:
        return None
    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx
    resid = [y - (my + slope * (x - mx)) for x, y in zip(xs, ys)]
    n = len(points)
    sd = math.sqrt(sum(r * r for r in resid) / (n - 2)) if n > 2 else 0.0
    se = sd / math.sqrt(sxx)
    span = xs[-1] - xs[0]
    change = slope * span
    ci = t95(n - 2) * se
    flat = abs(slope) <= ci or abs(change) <= max(2 * sd, unit)
    return {'slope': slope, 'ci': ci, 'sd': sd, 'change': change, 'flat': flat,
            'n': n, 'hours': span}


def fmt(v, unit):
    if unit == 'bytes':
        return '%.2f MB' % (v / 1e6)
    if unit == 'KB':
        return '%.2f MB' % (v / 1e3)
    return '%.1f' % v


def report_records(lines, t0, failures):
    """The kestrune-ctl recordings: each must have ended cleanly with nothing lost."""
    records = [l.split() for l in lines if l.startswith('record ')]
    ok = [r for r in records if r[4] == '0' and r[7] == '0' and r[8] == '0' and 'ok:' in r]
    blocks = sum(int(r[6]) for r in records if r[6].isdigit())
    frames = sum(int(r[5]) for r in records if r[5].isdigit())
    print('\nRecording peer (kestrune-ctl record, Send=1): %d recordings, %d clean; %d blocks, '
          '%.0f s of audio' % (len(records), len(ok), blocks, frames / 44100.0))
    pauses = [int(r[9]) for r in records if len(r) > 9 and r[9].isdigit()]
    if pauses:
        print('  longest pause between two blocks in a recording: %d ms (unplugs and stops '
              'included)' % max(pauses))
    for r in records:
        if r not in ok:
            print('  recording at +%.0f s: exit %s, %s blocks, %s left out, %s lost, %s' % (
                float(r[1]) - t0, r[4], r[6], r[7], r[8], ' '.join(r[10:])))
    if len(ok) != len(records) or not records:
        failures.append('%d of %d recordings not clean' % (len(records) - len(ok), len(records)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--dir', required=True)
    p.add_argument('--fade-in', type=float, default=0.5)
    p.add_argument('--seed', default='?')
    p.add_argument('--buffer', default='?')
    p.add_argument('--no-peer', action='store_true', help='no recorder was attached')
    a = p.parse_args()
    d = a.dir
    failures = []

    t0 = t_end = None
    alive = None
    closed = None
    unplugs, stops, volumes = [], [], []
    for line in read_lines(os.path.join(d, 'events.tsv')):
        f = line.split()
        if not f:
            continue
        if f[0] == 'start':
            t0 = float(f[1])
        elif f[0] == 'end':
            t_end = float(f[1])
        elif f[0] == 'alive':
            alive = f[1] == '1'
        elif f[0] == 'closed':
            closed = None if f[1] == '-' else float(f[1])
        elif f[0] == 'unplug':
            unplugs.append({'side': f[1], 'u': float(f[2]), 'r': float(f[3]),
                            'seen_wait': None if f[4] == '-' else float(f[4]),
                            'seen_online': None if f[5] == '-' else float(f[5])})
        elif f[0] == 'stop':
            stops.append({'stopfade': f[1], 'playfade': f[2], 's': float(f[3]), 'p': float(f[4]),
                          'seen_stop': None if f[5] == '-' else float(f[5]),
                          'seen_online': None if f[6] == '-' else float(f[6]),
                          'volume': None if f[7] == '-' else float(f[7])})
        elif f[0] == 'volume':
            volumes.append((int(f[1]), float(f[2])))
    if t0 is None or t_end is None:
        print('FAILED: the run did not finish (no start or end in events.tsv)')
        return 1
    hours = (t_end - t0) / 3600.0
    print('Soak: %.2f h (%.0f s), seed %s, buffer %s ms' % (hours, t_end - t0, a.seed, a.buffer))
    print('Program running at the end: %s' % ('yes' if alive else 'NO'))
    if not alive:
        failures.append('the program was not running at the end')
    else:
        print('Window closed at the end: %s' % (
            'process gone %.1f s later' % closed if closed is not None else 'NOT GONE within 10 s'))
        if closed is None:
            failures.append('the program did not end within 10 s of its window being closed')
    by_side = {}
    for u in unplugs:
        by_side[u['side']] = by_side.get(u['side'], 0) + 1
    print('Actions: %d unplugs (%s), %d stops and starts, %d volume changes' % (
        len(unplugs), ', '.join('%s %d' % kv for kv in sorted(by_side.items())), len(stops),
        len(volumes)))

    log_files, log = read_log(d)
    follow = read_follow(d)
    log_states = [(t, text.split()[0]) for t, w, text in log if w == 'STATE' and text.split()
                  and text.split()[0] in STATES]
    if not log_files:
        failures.append('no event log (Kestrune.log missing: is EventLog wired into this build?)')
        print('\nEvent log: MISSING - Kestrune.log was not written. The log-based figures below '
              'are missing;\nthe status as seen from outside (kestrune-probe follow) stands in '
              'where it can.')
    else:
        words = {}
        for _, w, _ in log:
            words[w] = words.get(w, 0) + 1
        print('\nEvent log: %d lines in %d file(s): %s' % (
            len(log), len(log_files), ', '.join('%s %d' % kv for kv in sorted(words.items()))))
        if words.get('PLUGIN'):
            failures.append('%d PLUGIN lines in the log' % words['PLUGIN'])
        # The log's note that it had to drop lines (its start and end are notes too).
        dropped = [text for _, w, text in log if w == 'LOG' and 'dropped' in text]
        if dropped:
            failures.append('the log dropped lines %d times: %s' % (len(dropped), dropped[0]))
        if not log_states:
            failures.append('the event log has no STATE lines')

    # Each action ends where the next begins; answers are looked for in between.
    starts = sorted([u['u'] for u in unplugs] + [s['s'] for s in stops] + [t_end + 60])

    def next_start(t):
        return min(s for s in starts if s > t)

    def first_state(states, state, after, before):
        for t, s in states:
            if after <= t < before and s == state:
                return t
        return None

    def answers(states, name):
        """WAIT after each unplug, Online after each replug, in one timeline."""
        waits, onlines, missing, flaps = [], [], [], 0
        for u in unplugs:
            limit = next_start(u['u'])
            tw = first_state(states, 'WAIT', u['u'] - 0.05, u['r'] + 0.5)
            to = first_state(states, 'Online', u['r'], limit)
            flaps += sum(1 for t, s in states if u['u'] <= t < u['r'] and s == 'Online')
            if tw is None:
                missing.append('no WAIT after the %s unplug at +%.0f s' % (u['side'], u['u'] - t0))
            else:
                waits.append(tw - u['u'])
            if to is None:
                missing.append('no Online after the %s replug at +%.0f s' % (u['side'], u['r'] - t0))
            else:
                onlines.append(to - u['r'])
            u['online_' + name] = to
        for s in stops:
            limit = next_start(s['s'])
            ts = first_state(states, 'STOP', s['s'], s['p'] + 0.5)
            to = first_state(states, 'Online', s['p'], limit)
            if ts is None:
                missing.append('no STOP after the stop at +%.0f s' % (s['s'] - t0))
            if to is None:
                missing.append('no Online after the play at +%.0f s' % (s['p'] - t0))
            s['online_' + name] = to
        return waits, onlines, missing, flaps

    def show_answers(title, states, name, required):
        waits, onlines, missing, flaps = answers(states, name)
        print('\n%s' % title)
        if not states:
            print('  no states')
            return
        n = len(unplugs)
        if waits:
            print('  unplug -> WAIT:   %d of %d, median %.2f s, worst %.2f s' % (
                len(waits), n, statistics.median(waits), max(waits)))
        else:
            print('  unplug -> WAIT:   0 of %d' % n)
        if onlines:
            print('  replug -> Online: %d of %d, median %.2f s, worst %.2f s' % (
                len(onlines), n, statistics.median(onlines), max(onlines)))
        else:
            print('  replug -> Online: 0 of %d' % n)
        print('  stop -> STOP and play -> Online: %d of %d' % (
            len(stops) - sum(1 for m in missing if 'stop' in m or 'play' in m), len(stops)))
        if flaps:
            print('  "Online" shown while a device was away: %d times' % flaps)
        for m in missing:
            print('  ' + m)
        if required:
            failures.extend(missing)

    show_answers('State answers, from the event log (STATE lines):', log_states, 'log', True)
    show_answers('State answers, seen from outside (status label every 50 ms):', follow, 'follow',
                 not log_files)

    # Where silence is expected: from each unplug or stop until the relay is back and faded in.
    windows = [(0, t0), (t_end, float('inf'))]
    for e in unplugs + stops:
        begin = e.get('u', e.get('s'))
        back = e.get('online_log') or e.get('online_follow') or e.get('seen_online')
        back = back if back is not None else next_start(begin)
        # A start without fade is heard from the volume command that follows it.
        back = max(back, e.get('volume') or 0)
        windows.append((begin - BEFORE, back + a.fade_in + AFTER))

    windows.sort()
    merged = []
    for w0, w1 in windows:
        if merged and w0 <= merged[-1][1]:
            merged[-1][1] = max(merged[-1][1], w1)
        else:
            merged.append([w0, w1])

    def uncovered(g0, g1):
        """The longest piece of [g0, g1] outside every window, in seconds."""
        longest, at = 0.0, g0
        for w0, w1 in merged:
            if w1 <= at:
                continue
            if w0 >= g1:
                break
            longest = max(longest, min(w0, g1) - at)
            at = max(at, w1)
            if at >= g1:
                break
        return max(longest, g1 - at)

    def in_window(t):
        return any(w0 <= t <= w1 for w0, w1 in merged)

    gaps = {'in': [], 'out': []}
    listened = {'in': 0.0, 'out': 0.0}
    for line in read_lines(os.path.join(d, 'gaps.tsv')):
        f = line.split()
        if len(f) >= 5 and f[0] == 'gap':
            gaps[f[1]].append((float(f[2]), float(f[3]), float(f[4])))
        elif len(f) >= 5 and f[0] == 'session':
            listened[f[1]] += float(f[3]) - float(f[2])
    min_gap = 0.050
    out_free = [g for g in gaps['out'] if uncovered(g[0], g[1]) >= min_gap]
    in_free = [g for g in gaps['in'] if uncovered(g[0], g[1]) >= min_gap]
    # The relay delays the input by its buffer and Wine's own delay: an input gap explains an
    # output gap up to half a second later.
    from_source = [g for g in out_free if any(g[0] < i1 + 0.5 and g[1] > i0 for i0, i1, _ in in_free)]
    # Under Wine the relay thread is an ordinary Linux thread: when the machine does not run an
    # ordinary process for 20 ms or more, Wine's output can run dry a few seconds later, once
    # the buffers in between are used up.
    late = []
    for line in read_lines(os.path.join(d, 'late.tsv')):
        f = line.split()
        if len(f) == 4 and f[0] == 'late':
            late.append((float(f[1]), float(f[2])))
    lookback = 5.0
    overloaded = [g for g in out_free if g not in from_source and
                  any(l0 < g[1] and l1 > g[0] - lookback for l0, l1 in late)]
    unexplained = [g for g in out_free if g not in from_source and g not in overloaded]
    # When the relay last came online before each gap: a gap soon after a start is a different
    # thing from one in the middle of a long run.
    onlines = sorted(t for t, st in (log_states or follow) if st == 'Online')

    def since_online(g):
        before = [t for t in onlines if t <= g[0]]
        return g[0] - before[-1] if before else float('inf')

    settle = 20.0
    early = [g for g in out_free if since_online(g) <= settle]
    busy = []
    for l0, l1 in sorted(late):
        if busy and l0 - lookback <= busy[-1][1]:
            busy[-1][1] = max(busy[-1][1], l1)
        else:
            busy.append([l0 - lookback, l1])
    busy_s = sum(min(b1, t_end) - max(b0, t0) for b0, b1 in busy if b1 > t0 and b0 < t_end)
    print('\nOutput gaps (silent stretches of 50 ms or more on the output, listened for %.0f s):' %
          listened['out'])
    print('  inside unplugged or stopped periods: %d' % (len(gaps['out']) - len(out_free)))
    print('  outside them: %d: %d while the input itself was silent, %d within %.0f s after the '
          'machine\n  left an ordinary process waiting 20 ms or more (%d such moments, %.0f %% of '
          'the run within\n  %.0f s after one), %d with neither' % (
              len(out_free), len(from_source), len(overloaded), lookback, len(late),
              100.0 * busy_s / max(1.0, t_end - t0), lookback, len(unexplained)))
    print('  of the %d: %d within %.0f s after the relay came online (start or restart), %d later' % (
        len(out_free), len(early), settle, len(out_free) - len(early)))
    for g in out_free:
        why = (', input silent too' if g in from_source else
               ', machine busy' if g in overloaded else '')
        print('    at +%.1f s: %.0f ms (%.1f s after Online%s)' % (g[0] - t0, g[2], since_online(g),
                                                                  why))
    print('  input gaps outside those periods (the test tone itself): %d' % len(in_free))
    if unexplained:
        failures.append('%d output gaps outside unplugged and stopped periods, with neither the '
                        'input silent nor the machine busy' % len(unexplained))
    if listened['out'] < 0.8 * (t_end - t0):
        failures.append('the output was listened to for %.0f s of %.0f s' % (listened['out'],
                                                                             t_end - t0))

    print('\nResources, sampled while relaying (outside unplugged and stopped periods, where the '
          'relay\nthread and the devices are gone); least-squares slope per hour with its 95 % '
          'interval; "flat":\nthe interval holds 0, or the fitted change over the run is within '
          'twice the scatter of the\npoints around the line (or one unit):')

    def show_trend(name, points, unit, resolution):
        if not points:
            print('  %-9s not reported' % name)
            return None
        first, last = points[0][1], points[-1][1]
        # The first minute is the program settling; the trend starts after it when it can.
        fit = trend(points[1:] if len(points) > 4 else points, resolution)
        if fit is None:
            print('  %-9s start %s, end %s (too few points for a slope)' % (
                name, fmt(first, unit), fmt(last, unit)))
            return None
        print('  %-9s start %s, end %s, slope %s/h (95%% +-%s), scatter %s over %d points: %s' % (
            name, fmt(first, unit), fmt(last, unit), fmt(fit['slope'], unit), fmt(fit['ci'], unit),
            fmt(fit['sd'], unit), fit['n'], 'flat within noise' if fit['flat'] else 'GROWING'
            if fit['slope'] > 0 else 'FALLING'))
        return fit

    res = []
    for t, w, text in log:
        if w == 'RES' and not in_window(t):
            fields = dict(kv.split('=', 1) for kv in text.split() if '=' in kv)
            res.append((t, fields))
    print(' from the RES lines of the event log (%d lines):' % len(res))
    for key, unit, resolution in (('private', 'bytes', 4096), ('heap', 'bytes', 4096),
                                  ('sysheap', 'bytes', 4096), ('handles', '', 1), ('gdi', '', 1),
                                  ('user', '', 1), ('threads', '', 1)):
        pts = [(t - t0, int(f[key])) for t, f in res if f.get(key, '?').lstrip('-').isdigit()]
        if not res:
            break
        if not pts:
            print('  %-9s not counted on this system ("?")' % key)
            continue
        fit = show_trend(key, pts, unit, resolution)
        if fit and not fit['flat'] and fit['slope'] > 0 and fit['n'] >= 5:
            failures.append('%s grows by %s per hour' % (key, fmt(fit['slope'], unit)))
    if log_files and not res:
        failures.append('no RES lines in the event log')
    outside = []
    for line in read_lines(os.path.join(d, 'outside.tsv')):
        f = line.split()
        if len(f) == 4 and all(x.isdigit() for x in f[1:]) and not in_window(float(f[0])):
            outside.append((float(f[0]) - t0, int(f[1]), int(f[2]), int(f[3])))
    print(' seen from outside, as Linux counts the Wine process (%d samples):' % len(outside))
    show_trend('resident', [(t, r) for t, r, _, _ in outside], 'KB', 4)
    show_trend('threads', [(t, th) for t, _, th, _ in outside], '', 1)
    show_trend('files', [(t, fd) for t, _, _, fd in outside], '', 1)

    if a.no_peer:
        print('\nRecording peer: none attached (--no-peer)')
    else:
        report_records(read_lines(os.path.join(d, 'records.tsv')), t0, failures)

    print()
    if failures:
        print('FAILED:')
        for f in failures:
            print('  ' + f)
        return 1
    print('PASSED: every unplug answered by WAIT and every replug by Online, no output gap outside '
          'them, resources flat')
    return 0


if __name__ == '__main__':
    raise SystemExit(main())
