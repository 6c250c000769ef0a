#!/usr/bin/env python3
"""Times whole headless renders of two or more builds of one program, run in turn.

    tools/compare-renders.py RUNS SCENE BINARY...

SCENE is one of: vexla-plain, vexla-loaded, zintor. Each round runs every binary once with
`--render OUT --seconds 300` and the scene's options, so that the builds share the machine's load.
Prints each run's processor time (user + system of the child), then per binary the medians of wall
and processor time, the least processor time, the factors against the first binary, and the MD5 of
its first output (the outputs of one scene should be identical). RENDER_SECONDS=N renders N seconds instead.
"""
import hashlib
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time
import wave


def write_sample(path):
    """A 2 s 16-bit stereo WAV: two sines, one per channel."""
    import math
    frames = bytearray()
    for i in range(88200):
        left = int(12000 * math.sin(2 * math.pi * 220 * i / 44100))
        right = int(10000 * math.sin(2 * math.pi * 331 * i / 44100 + 1))
        frames += left.to_bytes(2, 'little', signed=True) + right.to_bytes(2, 'little', signed=True)
    with wave.open(path, 'wb') as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(44100)
        out.writeframes(bytes(frames))


def scene_options(scene, folder):
    if scene == 'vexla-plain':
        return ['--seed', '7']
    if scene == 'zintor':
        return ['--seed', '1']
    if scene == 'vexla-loaded':
        sample = os.path.join(folder, 'sample.wav')
        write_sample(sample)
        options = ['--seed', '7']
        for slot in ['dry', 'second', 'slicer', 'vcf1', 'vcf2']:
            options += ['--load', f'{slot}={sample}']
        for assignment in ['dryLooperGain=0.7', 'secondLooperGain=0.6', 'slicerGain=0.8', 'vcf1Gain=0.9',
                           'vcf2Gain=0.9']:
            options += ['--set', assignment]
        return options + ['--press', 'AM Alter', '--press', '2nd Looper']
    sys.exit(f'unknown scene {scene!r}: vexla-plain, vexla-loaded or zintor')


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    runs, scene, binaries = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
    seconds = os.environ.get('RENDER_SECONDS', '300')
    with tempfile.TemporaryDirectory() as folder:
        options = scene_options(scene, folder)
        times = {b: [] for b in binaries}
        digests = {}
        for round_ in range(runs):
            for k, binary in enumerate(binaries):
                out = os.path.join(folder, f'out{k}.wav')
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                start = time.perf_counter()
                subprocess.run([binary, '--render', out, '--seconds', seconds] + options, check=True,
                               stdout=subprocess.DEVNULL)
                wall = time.perf_counter() - start
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpu = after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime
                times[binary].append((wall, cpu))
                if round_ == 0:
                    with open(out, 'rb') as f:
                        digests[binary] = hashlib.md5(f.read()).hexdigest()
    print('load average', ' '.join(f'{x:.2f}' for x in os.getloadavg()))
    for binary in binaries:
        print(binary, ' '.join(f'{cpu:.3f}' for _, cpu in times[binary]))
    first = None
    for binary in binaries:
        wall = statistics.median(w for w, _ in times[binary])
        cpu = statistics.median(c for _, c in times[binary])
        least = min(c for _, c in times[binary])
        first = first or (wall, cpu, least)
        print(f'{binary}: wall {wall:.3f} s, processor {cpu:.3f} s (least {least:.3f}); factor wall '
              f'{first[0] / wall:.2f}, processor {first[1] / cpu:.2f} (least {first[2] / least:.2f}); '
              f'md5 {digests[binary]}')


if __name__ == '__main__':
    main()
