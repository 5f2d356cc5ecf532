"""The numcodecs codec moltavex.numcodecs.Moltavex: its configuration, its
lookup by id through the entry point, numpy buffers and out=, and its real
clients, zarr and a Dask cluster of two worker processes. Chunk files are
checked as streams of the format, with moltavex.decompress and, when the
build names it in MOLTAVEX_PROGRAM, with the program."""

import json
import os
import pickle
import re
import subprocess
import sys
from pathlib import Path

import pytest

np = pytest.importorskip("numpy")
numcodecs = pytest.importorskip("numcodecs")

import moltavex
from moltavex.numcodecs import Moltavex


# A sensor counter (32-bit, small steps), a smooth float signal with noise,
# and 16-bit audio-like samples: the kinds of chunk a zarr array holds.
_r = np.random.default_rng(7)
COUNTER = np.cumsum(_r.integers(0, 5, 120 * 100), dtype=np.int32).reshape(120, 100)
SIGNAL = np.sin(np.linspace(0, 60, 20000)) + _r.normal(0, 1e-3, 20000)
SAMPLES = (8000 * np.sin(np.arange(30000) * 0.02) + _r.normal(0, 40, 30000)).astype("<i2")

# Configurations; every one round-trips.
CONFIGS = [
    {},
    {"model": 3, "order": 20},
    {"model": 0, "order": 0},
    {"model": 5},
    {"memory_limit": 1 << 24},
    {"model": 4, "order": 12, "memory_limit": 0},
    {"level": 3},
    {"model": 2, "order": 18, "check": False},
    {"level": 1, "check": True, "memory_limit": 1 << 30},
]


def _keywords(config):
    """moltavex.compress's keywords for a configuration, as a caller writes them."""
    return {k: v for k, v in config.items() if k != "id"}


def _module_keywords(config):
    """The module's keywords that give the codec's stream: the codec writes
    the record by default, and with no setting keeps model 1 at order 16
    (the module's own default is the program's level)."""
    keywords = {"check": True, **_keywords(config)}
    if not {"level", "model", "order"} & keywords.keys():
        keywords.update(model=1, order=16)
    return keywords


@pytest.mark.parametrize("config", CONFIGS)
def test_configuration_round_trip_and_stream(config):
    codec = Moltavex(**config)
    stored = codec.get_config()
    assert stored["id"] == "moltavex"
    assert json.loads(json.dumps(stored)) == stored
    for copy in (
        Moltavex.from_config(_keywords(stored)),
        numcodecs.get_codec(stored),
        pickle.loads(pickle.dumps(codec)),
    ):
        assert type(copy) is Moltavex and copy.get_config() == stored
    assert eval(repr(codec), {"Moltavex": Moltavex}) == codec
    # Every setting reaches the stream: the codec's stream is the module's,
    # and a copy made from the stored configuration gives the same one.
    stream = codec.encode(SAMPLES)
    assert stream == moltavex.compress(SAMPLES, **_module_keywords(config))
    assert Moltavex.from_config(_keywords(stored)).encode(SAMPLES) == stream
    assert codec.decode(stream) == SAMPLES.tobytes()


def test_default_record_turns_damage_into_an_error():
    # On by default: a chunk whose record no longer matches its data fails
    # instead of coming back wrong. check=False writes the stream alone.
    codec = Moltavex(level=3, memory_limit=1 << 30)
    stream = bytearray(codec.encode(COUNTER))
    assert stream[-32:-28] == b"\xc5MVX"
    stream[-1] ^= 1
    with pytest.raises(moltavex.MoltavexError, match=r"^Compressed data is corrupt\.$"):
        codec.decode(bytes(stream))
    bare = Moltavex(level=3, check=False).encode(COUNTER)
    assert bare == bytes(stream[:-32])


def test_invalid_configurations():
    with pytest.raises(ValueError, match="not both"):
        Moltavex(level=3, model=1)
    with pytest.raises(ValueError, match="not both"):
        Moltavex(level=3, order=10)
    for bad in ({"model": "3"}, {"order": 2.0}, {"level": True}, {"check": 1}, {"check": None}):
        with pytest.raises(TypeError):
            Moltavex(**bad)
    with pytest.raises(ValueError):
        Moltavex(memory_limit=-1)
    # Out of range: the library's own message, on encode.
    with pytest.raises(moltavex.MoltavexError, match=r"^Invalid model or order: model must be 0"):
        Moltavex(model=6, order=10).encode(b"data")


def test_entry_point_finds_the_codec_without_an_import():
    # A fresh interpreter, which has imported nothing of moltavex when it
    # asks numcodecs for the id: only the entry point can find it.
    code = (
        "import sys, numcodecs\n"
        "assert not any(m.startswith('moltavex') for m in sys.modules)\n"
        "codec = numcodecs.get_codec({'id': 'moltavex', 'model': 3, 'order': 18})\n"
        "print(type(codec).__module__, type(codec).__name__, codec.model, codec.order)\n"
    )
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.split() == ["moltavex.numcodecs", "Moltavex", "3", "18"]


@pytest.mark.parametrize(
    "data",
    [
        COUNTER,
        np.asfortranarray(COUNTER),
        SIGNAL,
        SAMPLES,
        SAMPLES.astype(">i2"),
        np.arange(50).astype("datetime64[s]"),
        np.zeros(0, dtype=np.float32),
        SAMPLES.tobytes(),
        bytearray(SAMPLES.tobytes()),
        memoryview(SAMPLES),
    ],
    ids=["int32", "int32-F", "float64", "int16", "int16-big", "datetime", "empty", "bytes",
         "bytearray", "memoryview"],
)
def test_numpy_and_other_buffers(data):
    codec = Moltavex(model=1, order=16)
    raw_data = data.tobytes(order="A") if isinstance(data, np.ndarray) else bytes(data)
    flat = np.frombuffer(raw_data, dtype=np.uint8)
    stream = codec.encode(data)
    assert isinstance(stream, bytes) and stream[0] == 1 * 32 + 16
    assert moltavex.decompress(stream) == flat.tobytes()
    assert codec.decode(stream) == flat.tobytes()
    # Into an array of the data's own shape and kind, and into raw bytes.
    if isinstance(data, np.ndarray):
        out = np.full_like(data, 1)
        got = codec.decode(stream, out=out)
        assert np.array_equal(out, data) and (data.size == 0 or np.shares_memory(got, out))
    raw = bytearray(len(flat))
    codec.decode(memoryview(stream), out=raw)
    assert raw == flat.tobytes()


def test_refusals_of_buffers():
    codec = Moltavex()
    stream = codec.encode(COUNTER)
    with pytest.raises(ValueError):
        codec.encode(COUNTER[:, ::2])  # not contiguous
    with pytest.raises(ValueError, match="restores"):
        codec.decode(stream, out=np.empty(COUNTER.size - 1, dtype=COUNTER.dtype))
    with pytest.raises(ValueError, match="restores"):
        codec.decode(stream, out=bytearray(COUNTER.nbytes + 1))
    with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
        codec.decode(stream[: len(stream) // 2])
    # The codec's memory limit holds for decoding: a stream whose tables
    # pass it is refused (the module's tests check the message), one whose
    # tables just fit is restored.
    big = Moltavex(model=3, order=22).encode(COUNTER)
    with pytest.raises(moltavex.MoltavexError):
        Moltavex(memory_limit=17 * 2**22 - 1).decode(big)
    assert Moltavex(memory_limit=17 * 2**22).decode(big) == COUNTER.tobytes()


def _chunk_files(path):
    """The chunk files of a zarr array's directory, by name ("0.1")."""
    return {p.name: p for p in Path(path).iterdir() if re.fullmatch(r"\d+(\.\d+)*", p.name)}


def _check_chunks(path, data, chunks, header):
    """Every chunk file is one stream of the format that restores its chunk."""
    files = _chunk_files(path)
    grid = [range(-(-n // c)) for n, c in zip(data.shape, chunks)]
    assert sorted(files) == sorted(
        ".".join(map(str, i)) for i in np.ndindex(*[len(g) for g in grid])
    )
    for name, file in files.items():
        stream = file.read_bytes()
        assert stream[0] == header
        chunk = np.frombuffer(moltavex.decompress(stream), dtype=data.dtype).reshape(chunks)
        index = tuple(slice(int(i) * c, (int(i) + 1) * c) for i, c in zip(name.split("."), chunks))
        part = data[index]
        # Edge chunks are stored whole; the part inside the array is the data.
        assert np.array_equal(chunk[tuple(slice(0, n) for n in part.shape)], part)
    return files


@pytest.fixture(scope="module")
def zarr_array(tmp_path_factory):
    zarr = pytest.importorskip("zarr")
    path = tmp_path_factory.mktemp("zarr") / "counter.zarr"
    codec = Moltavex(model=3, order=20)
    data = COUNTER
    z = zarr.open_array(str(path), mode="w", shape=data.shape, chunks=(50, 64), dtype=data.dtype,
                        compressor=codec)
    z[:] = data
    return path, data, codec


def test_zarr_writes_and_reads_back_streams(zarr_array):
    import zarr

    path, data, codec = zarr_array
    # Opened anew from its metadata, which names the codec by id.
    z = zarr.open_array(str(path), mode="r")
    assert z.compressor == codec
    assert json.loads((path / ".zarray").read_text())["compressor"] == codec.get_config()
    assert np.array_equal(z[:], data)
    assert np.array_equal(z[7:93, 30:71], data[7:93, 30:71])
    _check_chunks(path, data, z.chunks, 3 * 32 + 20)


def test_program_restores_zarr_chunks(zarr_array, tmp_path):
    program = os.environ.get("MOLTAVEX_PROGRAM")
    if not program:
        pytest.skip("MOLTAVEX_PROGRAM (the program, which ctest names) is not set")
    path, _, _ = zarr_array
    for name, file in _chunk_files(path).items():
        restored = tmp_path / name
        subprocess.run([program, "d", str(file), str(restored)], check=True,
                       capture_output=True)
        assert restored.read_bytes() == moltavex.decompress(file.read_bytes())


# Tornado's notice inside distributed, not ours.
@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_dask_cluster_of_two_processes_writes_and_reads_zarr(tmp_path):
    pytest.importorskip("zarr")
    da = pytest.importorskip("dask.array")
    distributed = pytest.importorskip("distributed")

    data = np.concatenate([COUNTER.ravel()] * 8).reshape(-1, 400)
    path = tmp_path / "dask.zarr"
    codec = Moltavex(model=1, order=18)
    # Loopback only, no dashboard; workers are separate processes, so the
    # codec travels to them pickled.
    with distributed.LocalCluster(
        n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1",
        dashboard_address=None,
        # The scheduler's HTTP endpoints (no dashboard) on a free loopback port.
        scheduler_kwargs={"dashboard": False, "dashboard_address": "127.0.0.1:0"},
    ) as cluster, distributed.Client(cluster) as client:
        pids = client.run(os.getpid)
        assert len(set(pids.values())) == 2 and os.getpid() not in pids.values()
        # The codec object itself, pickled to a worker, gives the same stream there.
        assert client.submit(codec.encode, COUNTER).result() == codec.encode(COUNTER)

        da.from_array(data, chunks=(40, 400)).to_zarr(str(path), compressor=codec)
        back = da.from_zarr(str(path))
        assert back.chunksize == (40, 400)
        assert np.array_equal(back.compute(), data)
        # The chunks were coded and decoded in the workers.
        loaded = client.run(lambda: "moltavex.numcodecs" in sys.modules)
        assert any(loaded.values())
    _check_chunks(path, data, (40, 400), 1 * 32 + 18)
