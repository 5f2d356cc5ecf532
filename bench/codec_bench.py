"""The numcodecs codec beside the others, on numeric arrays.

    python3 bench/codec_bench.py sizes [--mib N]
        Compressed sizes (and compression speed) of three arrays of N MiB
        (default 4), each coded whole as one chunk: a 32-bit event counter,
        64-bit float readings of a sensor with two decimals, and 16-bit
        audio-like samples. Moltavex at a few settings (the best of them
        marked) beside the numcodecs codecs at their strongest levels:
        Zlib, BZ2, LZMA, Zstd, and Blosc with its byte shuffle.
    python3 bench/codec_bench.py dask [--mib N] [--repeats R]
        A dask array of N MiB (default 32) in 1 MiB chunks of the counter,
        written to zarr with the codec and read back (summed), on a
        distributed.LocalCluster of one and then two worker processes (one
        thread each), in alternating rounds; the best of R rounds (default
        3) on each side and the speed-up.

The module must be importable: installed with pip, or from the CMake
build with PYTHONPATH=build/bindings/python. Only loopback is used, and no
dashboard. On a shared machine the figures move with the load; the load
average is printed with them.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time

import numpy as np
import numcodecs

import moltavex
from moltavex.numcodecs import Moltavex

MIB = 1 << 20

# The settings tried for the sizes table (model, order).
SETTINGS = [(0, 16), (1, 16), (1, 20), (2, 20), (3, 16), (3, 20), (3, 24), (4, 20), (5, 20), (5, 24)]


def counter(count, seed=1):
    """A 32-bit event counter read at a fixed rate: mostly unchanged, sometimes a few more."""
    r = np.random.default_rng(seed)
    return np.cumsum(r.poisson(0.3, count), dtype=np.int32)


def readings(count, seed=2):
    """Float64 readings of a slow sensor, rounded to two decimals."""
    r = np.random.default_rng(seed)
    t = np.arange(count)
    return np.round(20 + 5 * np.sin(t / 5000) + np.cumsum(r.normal(0, 0.01, count)), 2)


def samples(count, seed=3):
    """16-bit audio-like samples: a few tones and a little noise."""
    r = np.random.default_rng(seed)
    t = np.arange(count) / 44100
    wave = sum(a * np.sin(2 * np.pi * f * t) for a, f in ((6000, 220), (3000, 330), (1500, 880)))
    return (wave + r.normal(0, 30, count)).astype("<i2")


def sizes(mib):
    arrays = {
        "int32 counter": counter(mib * MIB // 4),
        "float64 readings": readings(mib * MIB // 8),
        "int16 samples": samples(mib * MIB // 2),
    }
    others = {
        "Zlib(level=9)": numcodecs.Zlib(level=9),
        "BZ2(level=9)": numcodecs.BZ2(level=9),
        "LZMA(preset=9)": numcodecs.LZMA(preset=9),
        "Zstd(level=19)": numcodecs.Zstd(level=19),
        "Blosc(zstd, 9, shuffle)": numcodecs.Blosc("zstd", 9, numcodecs.Blosc.SHUFFLE),
    }
    print(f"sizes of {mib} MiB arrays, one chunk each; load average {os.getloadavg()[0]:.1f}")
    for name, data in arrays.items():
        rows = []
        for model, order in SETTINGS:
            rows.append((f"Moltavex(model={model}, order={order})",
                         Moltavex(model=model, order=order)))
        rows += others.items()
        results = []
        for label, codec in rows:
            start = time.perf_counter()
            packed = codec.encode(data)
            seconds = time.perf_counter() - start
            assert np.array_equal(np.frombuffer(codec.decode(packed), data.dtype), data)
            results.append((label, len(packed), seconds))
        best = min((r for r in results if r[0].startswith("Moltavex")), key=lambda r: r[1])
        print(f"\n{name} ({data.nbytes} bytes)\n")
        print("| codec | bytes | ratio | MB/s |")
        print("|---|---:|---:|---:|")
        for label, size, seconds in results:
            mark = " (best)" if (label, size, seconds) == best else ""
            print(f"| {label}{mark} | {size} | {data.nbytes / size:.2f} "
                  f"| {data.nbytes / seconds / 1e6:.1f} |")


def _block(block_info=None):
    """The counter's chunk at block_info's place, the same on every run."""
    info = block_info[None]
    (start, stop), = info["array-location"]
    return counter(stop - start, seed=start)


def _busy(records):
    """Seconds each worker spent running tasks, from a task stream: an even
    split shows the work spread; their sum beside the wall clock shows what
    the machine's cores gave."""
    busy = {}
    for record in records:
        for span in record["startstops"]:
            if span["action"] == "compute":
                busy[record["worker"]] = busy.get(record["worker"], 0) + span["stop"] - span["start"]
    return ", ".join(f"{seconds:.2f}" for _, seconds in sorted(busy.items()))


def dask_run(mib, repeats):
    import contextlib

    import dask.array as da
    import distributed

    length = mib * MIB // 4
    chunk = MIB // 4
    codec = Moltavex(model=1, order=16)
    data = da.map_blocks(_block, chunks=((chunk,) * (length // chunk),), dtype=np.int32)
    work = tempfile.mkdtemp(prefix="moltavex-dask-")
    print(f"dask: {mib} MiB of int32 in {length // chunk} chunks of 1 MiB, {codec}; "
          f"load average {os.getloadavg()[0]:.1f}")
    best = {}
    busy = {}
    with contextlib.ExitStack() as stack:
        stack.callback(shutil.rmtree, work, ignore_errors=True)
        # Both clusters at once, their rounds alternating, so that a change
        # in the machine's load falls on both sides alike; the best round
        # of each counts.
        clients = {}
        for workers in (1, 2):
            cluster = stack.enter_context(distributed.LocalCluster(
                n_workers=workers, processes=True, threads_per_worker=1, host="127.0.0.1",
                dashboard_address=None,
                # The scheduler's HTTP endpoints (no dashboard) on a free loopback port.
                scheduler_kwargs={"dashboard": False, "dashboard_address": "127.0.0.1:0"}))
            clients[workers] = stack.enter_context(distributed.Client(cluster))
            clients[workers].wait_for_workers(workers)
            best[workers] = [float("inf"), float("inf")]
        with clients[1].as_current():
            expected = int(data.sum().compute())
        for run in range(repeats):
            for workers, client in clients.items():
                path = os.path.join(work, f"{workers}-{run}.zarr")
                with client.as_current(), distributed.get_task_stream(client) as tasks:
                    start = time.perf_counter()
                    data.to_zarr(path, compressor=codec)
                    middle = time.perf_counter()
                    total = int(da.from_zarr(path).sum().compute())
                    end = time.perf_counter()
                assert total == expected
                shutil.rmtree(path)
                best[workers] = [min(best[workers][0], middle - start),
                                 min(best[workers][1], end - middle)]
                busy[workers] = _busy(tasks.data)
    size = length * 4 / 1e6
    print("\n| workers | write s | read s | write MB/s | read MB/s | busy s per worker (last round) |")
    print("|---:|---:|---:|---:|---:|---|")
    for workers, (write, read) in best.items():
        print(f"| {workers} | {write:.2f} | {read:.2f} | {size / write:.1f} | {size / read:.1f} "
              f"| {busy[workers]} |")
    (w1, r1), (w2, r2) = best[1], best[2]
    print(f"\nspeed-up of two workers over one: write {w1 / w2:.2f}x, read {r1 / r2:.2f}x "
          f"(best of {repeats} alternating rounds; load average now {os.getloadavg()[0]:.1f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("what", choices=["sizes", "dask"])
    parser.add_argument("--mib", type=int)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    print(f"moltavex {moltavex.__version__} from {os.path.dirname(moltavex.__file__)}, "
          f"numcodecs {numcodecs.__version__}, Python {sys.version.split()[0]}")
    if args.what == "sizes":
        sizes(args.mib or 4)
    else:
        dask_run(args.mib or 32, args.repeats)


if __name__ == "__main__":
    main()
