#!/usr/bin/env python3
"""Writes COUNT files of 1 KB to LARGEST bytes (4 MB unless given; sizes
spread evenly on a log scale) into FOLDER, in nested subfolders: a third
text-like, a third structured binary, a third random; the same seed gives the
same files."""
import os
import random
import sys

folder = sys.argv[1]
count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
largest = int(sys.argv[3]) if len(sys.argv) > 3 else 4096 * 1024
rng = random.Random(2026)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 10))) for _ in range(3000)]
total = 0
for i in range(count):
    size = int(1024 * ((largest / 1024) ** rng.random()))
    kind = i % 3
    if kind == 0:
        parts, length = [], 0
        while length < size:
            line = ' '.join(rng.choice(words) for _ in range(rng.randint(4, 14))) + '\n'
            parts.append(line)
            length += len(line)
        data = ''.join(parts).encode()[:size]
    elif kind == 1:
        record = bytes(rng.getrandbits(8) for _ in range(64))
        data = bytearray()
        while len(data) < size:
            data += record[:rng.randint(8, 64)] + rng.getrandbits(32).to_bytes(4, 'little')
        data = bytes(data[:size])
    else:
        data = rng.randbytes(size)
    path = os.path.join(folder, 'd%02d' % (i % 40), 's%d' % (i % 7))
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, 'f%04d.bin' % i), 'wb') as f:
        f.write(data)
    total += size
print('%d files, %d bytes' % (count, total))
