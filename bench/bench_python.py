"""64 pictures of 1024 x 1024 through orvane-batch --jobs 2, through
orvane.analyse_files on local threads, and on a two-worker Dask LocalCluster;
prints each one's wall time and its ratio to orvane-batch's.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/bench_python.py [build/release/orvane-batch]
"""
import os
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas  # noqa: F401  (imported before the clock starts, as analyse_files needs it)

import orvane


def write_bmp(path, pixels):
    h, w = pixels.shape
    palette = b"".join(bytes([i, i, i, 0]) for i in range(256))
    offset = 14 + 40 + 1024
    data = pixels[::-1].tobytes()
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(data), 0, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + data)


def timed(label, run, reference=None):
    start = time.perf_counter()
    result = run()
    seconds = time.perf_counter() - start
    ratio = f"   {seconds / reference:.2f} x orvane-batch" if reference else ""
    print(f"{label:<40} {seconds:7.2f} s{ratio}")
    return seconds, result


def main():
    batch = sys.argv[1] if len(sys.argv) > 1 else "build/release/orvane-batch"
    rng = np.random.default_rng(1)
    with tempfile.TemporaryDirectory() as folder:
        files = []
        for k in range(64):
            path = os.path.join(folder, f"p{k:02d}.bmp")
            write_bmp(path, rng.integers(0, 256, (1024, 1024), dtype=np.uint8))
            files.append(path)
        print("64 files of 1024 x 1024, --psd on")
        base, _ = timed("orvane-batch --jobs 2", lambda: subprocess.run(
            [batch, "--jobs", "2", "--psd", *files], check=True, capture_output=True))
        timed("analyse_files, local threads", lambda: orvane.analyse_files(files), base)
        from distributed import Client, LocalCluster
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster:
            with Client(cluster) as client:
                client.run(lambda: __import__("orvane"))  # workers import the package before the clock starts
                timed("analyse_files, LocalCluster of 2 workers", lambda: orvane.analyse_files(files, client=client), base)


if __name__ == "__main__":
    main()
