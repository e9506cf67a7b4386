"""The soak's schedule: what happens when, drawn from a seed.

Usage: soak-plan.py SECONDS SEED
Prints one action a line, "OFFSET ACTION ARGS...", in time order (OFFSET in seconds from the
start of the soak):
    OFFSET unplug input|output|both HOLD   take the device(s) away for HOLD seconds
    OFFSET stop fade|cut HOLD play fade|cut  stop through the peer link, start again HOLD s later
    OFFSET volume PERCENT                  set the internal volume through the peer link
At least 66 unplugs an hour (a fifth of them both devices at once), 12 stops and 20 volume
changes, each at a random moment of its own slot of the run. Short runs get at least 6 unplugs
(both devices at least once), 4 stops (every pairing of fades) and 2 volume changes.
"""
import math
import random
import sys


def main():
    seconds = float(sys.argv[1])
    rng = random.Random(int(sys.argv[2]))
    hours = seconds / 3600.0
    unplugs = max(6, math.ceil(66 * hours))
    stops = max(4, math.ceil(12 * hours))
    volumes = max(2, math.ceil(20 * hours))
    both = max(1, round(unplugs / 5))
    sides = ['both'] * both
    for i in range(unplugs - both):
        sides.append('input' if i % 2 == 0 else 'output')
    actions = []
    for side in sides:
        actions.append('unplug %s %.1f' % (side, rng.uniform(3.0, 9.0)))
    for i in range(stops):
        # Every combination of fades comes up in turn.
        actions.append('stop %s %.1f play %s' % ('fade' if i % 2 else 'cut', rng.uniform(1.0, 4.0),
                                                 'fade' if (i // 2) % 2 else 'cut'))
    for _ in range(volumes):
        actions.append('volume %d' % rng.randint(40, 100))
    rng.shuffle(actions)
    # The first slot is left for the relay to settle.
    slot = seconds / (len(actions) + 1)
    for i, action in enumerate(actions):
        print('%.1f %s' % ((i + 1 + rng.uniform(0.0, 0.7)) * slot, action))


main()
