"""The Python module: round trips, streaming in pieces against the one-shot
stream, the end of input (eof for bz2-style loops and DecompressReader),
the argument forms of bz2 callers, the defaults and levels against the
program's streams (MOLTAVEX_PROGRAM, which ctest sets), the file object,
errors that name the argument or the memory needed, and the GIL released
while coding."""

import _compression
import array
import io
import os
import random
import subprocess
import threading
import time

import pytest

import moltavex


def _text(size, seed):
    """Word-like text with lines, the same on every run."""
    r = random.Random(seed)
    words = [bytes(r.choice(b"abcdefghijklmnop") for _ in range(r.randint(1, 9))) for _ in range(400)]
    out = bytearray()
    while len(out) < size:
        out += r.choice(words) + (b"\n" if r.random() < 0.1 else b" ")
    return bytes(out[:size])


TEXT = _text(60000, 1)
NOISE = random.Random(2).randbytes(20000)
# Runs of the escape byte, which the transform rewrites.
RUNS = b"\xf0" * 3000 + b"\xf0\xf0\x00" + b"a\xf0b" * 500 + b"\xf0"
TRAILER = b"\xf0\xf0\x00not ours"


def _pieces(data, r):
    """`data` cut at random sizes, 1-byte pieces among them."""
    at = 0
    while at < len(data):
        size = 1 if r.random() < 0.3 else r.randint(0, 5000)
        yield data[at : at + size]
        at += size


@pytest.mark.parametrize("model", range(6))
def test_round_trips_of_every_model_and_buffer_kind(model):
    order = 20 if model == 2 else 14
    for data in (b"", TEXT, NOISE, RUNS):
        stream = moltavex.compress(data, model=model, order=order)
        assert type(stream) is bytes and stream[0] == model * 32 + order
        assert moltavex.compress(bytearray(data), model=model, order=order) == stream
        assert moltavex.compress(memoryview(data), model=model, order=order) == stream
        for packed in (stream, bytearray(stream), memoryview(stream)):
            assert moltavex.decompress(packed) == data
    # A buffer of wider items counts in bytes; one with gaps is refused.
    wide = array.array("H", range(5000))
    assert moltavex.decompress(moltavex.compress(wide, model=model, order=order)) == wide.tobytes()
    with pytest.raises(BufferError):
        moltavex.compress(memoryview(TEXT)[::2])


@pytest.mark.parametrize("model", range(6))
def test_pieces_of_any_size_give_the_one_shot_stream(model):
    r = random.Random(model)
    data = TEXT + RUNS + NOISE[:3000]
    stream = moltavex.compress(data, model=model, order=12)

    compressor = moltavex.Compressor(model=model, order=12)
    pieces = [compressor.compress(p) for p in _pieces(data, r)]
    assert b"".join(pieces) + compressor.flush() == stream

    # Decompression, with bytes after the stream that are not its own.
    decompressor = moltavex.Decompressor()
    restored, fed = [], 0
    for piece in _pieces(stream + TRAILER, r):
        assert not decompressor.eof
        restored.append(decompressor.decompress(piece))
        fed += len(piece)
        if decompressor.eof:
            break
    assert b"".join(restored) == data
    assert decompressor.unused_data + (stream + TRAILER)[fed:] == TRAILER
    assert not decompressor.needs_input
    with pytest.raises(EOFError):
        decompressor.decompress(b"x")


@pytest.mark.parametrize("model", range(6))
def test_check_appends_a_record_that_every_decoder_verifies(model, tmp_path):
    r = random.Random(model)
    data = TEXT[:20000] + RUNS
    bare = moltavex.compress(data, model=model, order=12, check=False)
    stream = moltavex.compress(data, model=model, order=12)
    assert stream[:-32] == bare and stream[-32:-24] == bytes.fromhex("C54D565801000000")
    compressor = moltavex.Compressor(model=model, order=12)
    assert b"".join(compressor.compress(p) for p in _pieces(data, r)) + compressor.flush() == stream
    assert moltavex.decompress(stream) == data == moltavex.decompress(stream + TRAILER)

    # The record is the stream's: unused_data starts after it.
    decompressor = moltavex.Decompressor()
    assert b"".join(decompressor.decompress(p) for p in _pieces(stream + TRAILER, r)) == data
    assert decompressor.eof and decompressor.unused_data.endswith(TRAILER)

    corrupt = r"^Compressed data is corrupt\.$"
    damaged = stream[:-1] + bytes([stream[-1] ^ 1])
    with pytest.raises(moltavex.MoltavexError, match=corrupt):
        moltavex.decompress(damaged)
    with pytest.raises(moltavex.MoltavexError, match=corrupt):
        moltavex.Decompressor().decompress(damaged)
    with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
        moltavex.decompress(stream[:-5])

    name = tmp_path / "data.mx"
    with moltavex.open(name, "wb", model=model, order=12) as f:
        f.write(data)
    assert name.read_bytes() == stream
    with moltavex.open(name) as f:
        assert f.read() == data
    name.write_bytes(damaged)
    with pytest.raises(moltavex.MoltavexError, match=corrupt):
        with moltavex.open(name) as f:
            f.read()


@pytest.mark.parametrize("tail", [b"\xc5", b"\xc5MV", b"\xc5MVY", b"\xc5\xff\xff\xff"])
def test_a_beginning_of_the_record_magic_after_a_stream_is_not_the_streams(tail):
    # Padding after a stream without the record: the data, and the padding
    # as unused_data, whether more input decides or flush() does.
    stream = moltavex.compress(TEXT, model=1, order=12, check=False)
    assert moltavex.decompress(stream + tail) == TEXT
    r = random.Random(len(tail))
    decompressor = moltavex.Decompressor()
    restored, fed = b"", 0
    for piece in _pieces(stream + tail, r):
        restored += decompressor.decompress(piece)
        fed += len(piece)
        if decompressor.eof:
            break
    if not decompressor.eof:
        assert decompressor.needs_input
        restored += decompressor.flush()
    assert restored == TEXT and decompressor.eof
    assert decompressor.unused_data + (stream + tail)[fed:] == tail


def test_output_limited_by_max_length():
    data = b"\x00" * 300000 + TEXT  # compresses so well that a little input restores much
    stream = moltavex.compress(data, model=4, order=16) + TRAILER
    r = random.Random(5)
    decompressor = moltavex.Decompressor()
    restored, at = bytearray(), 0
    for _ in range(len(data)):  # far more calls than needed, unless stuck
        if decompressor.eof:
            break
        block = b""
        if decompressor.needs_input:
            # Nothing waits: without input there is no output.
            assert decompressor.decompress(b"", 1) == b""
            block = stream[at : at + r.randint(1, 300)]
            at += len(block)
        limit = r.choice([1, 100, 5000])
        out = decompressor.decompress(block, limit)
        assert len(out) <= limit
        restored += out
    assert decompressor.eof and restored == data
    assert decompressor.unused_data + stream[at:] == TRAILER


def test_a_cut_stream_fails_at_the_end_of_the_input():
    stream = moltavex.compress(TEXT, model=3, order=16)
    for cut in (1, 5, len(stream) // 2, len(stream) - 8):
        decompressor = moltavex.Decompressor()
        decompressor.decompress(stream[:cut])
        assert not decompressor.eof and decompressor.needs_input
        with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
            decompressor.flush()
        with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
            moltavex.decompress(stream[:cut])
    # A whole stream has given all its data before any flush, which adds
    # nothing.
    decompressor = moltavex.Decompressor()
    assert decompressor.decompress(stream) == TEXT
    assert decompressor.flush() == b"" and decompressor.eof
    # A stream fed by halves with a flush at the end, as a reader does.
    decompressor = moltavex.Decompressor()
    half = len(stream) // 2
    assert decompressor.decompress(stream[:half]) + decompressor.decompress(stream[half:]) + (
        decompressor.flush()
    ) == TEXT


class _Trickle(io.BytesIO):
    """A file that gives at most `piece` bytes a read, as a pipe may."""

    def __init__(self, data, piece):
        super().__init__(data)
        self._piece = piece

    def read(self, size=-1):
        return super().read(self._piece if size is None or size < 0 else min(size, self._piece))

    def readinto(self, b):
        data = self.read(len(b))
        b[: len(data)] = data
        return len(data)


SHORT = TEXT[:3000] + RUNS[:500]

# Streams with and without the record, fed whole or a byte at a time, alone
# or with bytes after them: eof turns True once the body has ended, before
# the end of the input is known.
STREAM_ENDS = [
    pytest.param(check, piece, tail, id=f"{'record' if check else 'bare'}-{name}-{kind}")
    for check in (True, False)
    for piece, name in ((1 << 20, "whole"), (1, "bytes"))
    for tail, kind in ((b"", "alone"), (TRAILER, "trailer"))
]


@pytest.mark.parametrize("check, piece, tail", STREAM_ENDS)
def test_a_bz2_style_loop_stops_at_the_end_of_every_stream(check, piece, tail):
    stream = moltavex.compress(SHORT, model=2, order=16, check=check)
    source = _Trickle(stream + tail, piece)
    decompressor = moltavex.Decompressor()
    restored = []
    while not decompressor.eof:
        block = source.read(piece)
        if not block:
            raise EOFError("the input ended before eof")
        restored.append(decompressor.decompress(block))
    assert b"".join(restored) == SHORT
    # Nothing of the stream's is lost: what the loop did not give it
    # follows (its record, when the body ended at the end of a piece).
    rest = decompressor.unused_data + source.getvalue()[source.tell() :]
    assert rest.endswith(tail) and stream.endswith(rest[: len(rest) - len(tail)])


@pytest.mark.parametrize("check, piece, tail", STREAM_ENDS)
def test_decompress_reader_reads_every_stream(check, piece, tail):
    # As bz2 and lzma use it: bytes after a stream that begin no stream
    # are the end.
    stream = moltavex.compress(SHORT, model=2, order=16, check=check)

    def read(data):
        raw = _compression.DecompressReader(_Trickle(data, piece), moltavex.Decompressor,
                                            trailing_error=moltavex.MoltavexError)
        return io.BufferedReader(raw).read()

    assert read(stream + tail) == SHORT
    if check and piece > 1:
        damaged = stream[:-1] + bytes([stream[-1] ^ 1])
        with pytest.raises(moltavex.MoltavexError, match=r"^Compressed data is corrupt\.$"):
            read(damaged + tail)


def test_a_record_after_the_end_of_the_body_is_still_verified():
    # The body whole in one call, then its record (or other bytes) in pieces.
    stream = moltavex.compress(SHORT, model=2, order=16)
    body, record = stream[:-32], stream[-32:]
    damaged = record[:20] + bytes([record[20] ^ 1]) + record[21:]
    for rest in (record + TRAILER, TRAILER, damaged + TRAILER):
        decompressor = moltavex.Decompressor()
        assert decompressor.decompress(body) == SHORT
        if rest.startswith(damaged):
            with pytest.raises(moltavex.MoltavexError, match=r"^Compressed data is corrupt\.$"):
                for i in range(len(rest)):
                    decompressor.decompress(rest[i : i + 1])
            continue
        # needs_input tells, after eof too, whether it takes more bytes.
        at = 0
        while decompressor.needs_input:
            assert decompressor.decompress(rest[at : at + 1]) == b""
            at += 1
        assert decompressor.eof and decompressor.unused_data + rest[at:] == TRAILER
        with pytest.raises(EOFError):
            decompressor.decompress(b"x")


PROGRAM = os.environ.get("MOLTAVEX_PROGRAM")


@pytest.mark.skipif(not PROGRAM, reason="MOLTAVEX_PROGRAM (the program, which ctest names) is not set")
@pytest.mark.parametrize("level", [None, 1, 5, 9])
def test_the_defaults_and_levels_give_the_program_stream(level, tmp_path):
    # compress(data), which knows its input's length, writes what `moltavex
    # -c FILE` writes, and level N what `moltavex -N -c FILE` writes,
    # whatever the level's setting is for the input; Compressor() and
    # open(f, "wb"), which do not, write what the program writes from a
    # pipe.
    for data in (TEXT, NOISE[:3000], b""):
        path = tmp_path / "data"
        path.write_bytes(data)
        option = [] if level is None else [f"-{level}"]
        expected = subprocess.run([PROGRAM, *option, "-c", str(path)], check=True,
                                  capture_output=True).stdout
        piped = subprocess.run([PROGRAM, *option, "-c"], input=data, check=True,
                               capture_output=True).stdout
        assert moltavex.compress(data, level) == expected
        assert _pushed(moltavex.Compressor(level), data) == piped
        assert _written(lambda b: moltavex.open(b, "wb", level), data) == piped


def _written(open_file, data):
    """The stream a file object (over a BytesIO) writes for `data`."""
    buffer = io.BytesIO()
    with open_file(buffer) as f:
        f.write(data)
    return buffer.getvalue()


def _pushed(compressor, data):
    return compressor.compress(data) + compressor.flush()


# Every way to give a level, as bz2 callers write it (compress(data, 9),
# open(f, "wb", 9), compresslevel=) or as before (level=).
LEVEL_FORMS = {
    "compress positional": lambda data, n: moltavex.compress(data, n),
    "compress compresslevel": lambda data, n: moltavex.compress(data, compresslevel=n),
    "compress level": lambda data, n: moltavex.compress(data, level=n),
    "Compressor positional": lambda data, n: _pushed(moltavex.Compressor(n), data),
    "Compressor compresslevel": lambda data, n: _pushed(moltavex.Compressor(compresslevel=n), data),
    "open positional": lambda data, n: _written(lambda b: moltavex.open(b, "wb", n), data),
    "open compresslevel": lambda data, n: _written(
        lambda b: moltavex.open(b, "w", compresslevel=n), data),
    "MoltavexFile level": lambda data, n: _written(
        lambda b: moltavex.MoltavexFile(b, "w", level=n), data),
}


@pytest.mark.parametrize("form", LEVEL_FORMS)
def test_levels_are_settings_of_the_library_table(form):
    # A level gives the stream of the level's model and order, which its
    # header names, with the record; levels differ, and stay within the
    # default limit of decompression.
    headers = set()
    for level in (1, 5, 9):
        stream = LEVEL_FORMS[form](TEXT, level)
        model, order = stream[0] >> 5, stream[0] & 31
        assert stream == moltavex.compress(TEXT, model=model, order=order)
        assert stream[-32:-28] == b"\xc5MVX" and order <= 26
        headers.add(stream[0])
    assert len(headers) == 3


def test_errors_carry_the_library_messages():
    invalid_stream = r"^Not a valid compressed file\.$"
    for stream in (b"", b"\xe5\x01\x02\x03", b"\xff"):
        with pytest.raises(moltavex.MoltavexError, match=invalid_stream) as raised:
            moltavex.decompress(stream)
        assert raised.value.status == moltavex.Status.INVALID_STREAM
        assert raised.value.required_bytes is None
    stream = moltavex.compress(TEXT, model=3, order=16)
    limit = 17 * 2**16 - 1
    assert moltavex.decompress(stream, memory_limit=limit + 1) == TEXT
    assert moltavex.decompress(stream, memory_limit=0) == TEXT
    compressor = moltavex.Compressor()
    compressor.flush()
    with pytest.raises(ValueError):
        compressor.compress(b"more")
    with pytest.raises(ValueError):
        compressor.flush()


# 109 KB of data: no message may hold its repr.
LARGE = TEXT + TEXT[:49000]

# A wrong argument: the call, the error, and what its message says (the
# argument's name).
WRONG_ARGUMENTS = [
    (lambda: moltavex.compress(LARGE, "9"), TypeError, r"^level must be an int or None, not str$"),
    (lambda: moltavex.compress(LARGE, compresslevel=9.0), TypeError, "^level must be an int"),
    (lambda: moltavex.compress(LARGE, level=True), TypeError, "^level must be an int"),
    (lambda: moltavex.compress(LARGE, 10), moltavex.MoltavexError,
     r"^Invalid level: level must be 1 to 9, not 10\.$"),
    (lambda: moltavex.compress(LARGE, level=2**80), moltavex.MoltavexError,
     r"^Invalid level: level must be 1 to 9, not a number that large\.$"),
    (lambda: moltavex.compress(LARGE, 9, compresslevel=9), TypeError, "compresslevel"),
    (lambda: moltavex.compress(LARGE, 9, model=1), ValueError, "a level, or a model"),
    (lambda: moltavex.compress(LARGE, 3, 20), TypeError, "positional argument"),
    (lambda: moltavex.compress(LARGE, levl=3), TypeError, "'levl'"),
    (lambda: moltavex.compress(LARGE, model="1"), TypeError, "^model must be an int"),
    (lambda: moltavex.compress(LARGE, model=6, order=10), moltavex.MoltavexError,
     r"^Invalid model or order: model must be 0 to 5, not 6\.$"),
    (lambda: moltavex.compress(LARGE, order=32), moltavex.MoltavexError,
     r"^Invalid model or order: order must be 0 to 31, not 32\.$"),
    (lambda: moltavex.compress(LARGE, memory_limit="1"), TypeError, "^memory_limit"),
    (lambda: moltavex.compress(LARGE, memory_limit=-1), ValueError, "^memory_limit"),
    (lambda: moltavex.compress(LARGE.decode("latin-1")), TypeError,
     r"^data must be a bytes-like object, not str$"),
    (lambda: moltavex.decompress(LARGE, memory_limit=1.5), TypeError, "^memory_limit"),
    (lambda: moltavex.decompress(list(LARGE[:5000])), TypeError, "^data must be"),
    (lambda: moltavex.Compressor().compress(LARGE.decode("latin-1")), TypeError, "^data must"),
    (lambda: moltavex.Decompressor().decompress(LARGE, "5"), TypeError, "^max_length must"),
    (lambda: moltavex.Decompressor().decompress(LARGE, maxlength=5), TypeError, "'maxlength'"),
    (lambda: moltavex.open(io.BytesIO(), "wb", "9"), TypeError, "^level must be an int"),
]


@pytest.mark.parametrize("call, error, message", WRONG_ARGUMENTS)
def test_a_wrong_argument_is_named_and_the_data_never_shown(call, error, message):
    with pytest.raises(error, match=message) as raised:
        call()
    assert len(str(raised.value)) < 120
    if error is moltavex.MoltavexError:
        assert raised.value.status == moltavex.Status.INVALID_ARGUMENT


# 17 * 2**28 bytes of tables and model 5's 128 KiB: 4353 MiB, rounded up.
M5_28 = 17 * 2**28 + 2**17
# A stream from elsewhere whose header names model 5 at order 28.
FOREIGN = bytes([5 * 32 + 28]) + bytes(range(256)) * 100


def _decompressed_by_pieces(stream, **keywords):
    d = moltavex.Decompressor(**keywords)
    return b"".join(d.decompress(stream[i : i + 1]) for i in range(len(stream))) + d.flush()


# A memory limit passed, compressing or decompressing (the tables' bytes
# from the setting, or from the stream's header, before any table is
# taken), with the limit the call gives or the default of decompression.
MEMORY_LIMITS = [
    (lambda: moltavex.compress(TEXT, model=5, order=28, memory_limit=1088 << 20),
     M5_28, 1088 << 20, "needs 4353 MiB of tables, over the memory limit of 1088 MiB"),
    (lambda: moltavex.Compressor(model=3, order=20, memory_limit=16 << 20),
     17 << 20, 16 << 20, "needs 17 MiB of tables, over the memory limit of 16 MiB"),
    (lambda: moltavex.decompress(FOREIGN), M5_28, None,
     "needs 4353 MiB of tables, over the memory limit of 1089 MiB"),
    (lambda: moltavex.decompress(FOREIGN, memory_limit=4352 << 20), M5_28, 4352 << 20,
     "needs 4353 MiB of tables, over the memory limit of 4352 MiB"),
    (lambda: moltavex.Decompressor().decompress(FOREIGN), M5_28, None,
     "needs 4353 MiB of tables"),
    (lambda: _decompressed_by_pieces(moltavex.compress(TEXT, model=3, order=16),
                                     memory_limit=1 << 20), 17 * 2**16, 1 << 20,
     "needs 2 MiB of tables, over the memory limit of 1 MiB"),
]


@pytest.mark.parametrize("compress", [
    lambda data: moltavex.compress(data, 9, memory_limit=1 << 20),
    lambda data: _pushed(moltavex.Compressor(9, memory_limit=1 << 20), data),
])
def test_a_level_under_a_memory_limit_lowers_its_order(compress):
    # As the program's levels do: only an exact setting is refused.
    stream = compress(TEXT)
    model, order = stream[0] >> 5, stream[0] & 31
    assert moltavex.decompress(stream, memory_limit=1 << 20) == TEXT
    assert (model, order) != (5, 23)


@pytest.mark.parametrize("call, required, limit, message", MEMORY_LIMITS)
def test_a_memory_limit_passed_says_the_bytes_needed(call, required, limit, message):
    with pytest.raises(moltavex.MoltavexError, match=message) as raised:
        call()
    error = raised.value
    assert error.status == moltavex.Status.MEMORY_LIMIT
    if required is not None:
        assert error.required_bytes == required
    assert error.required_bytes > error.memory_limit
    assert str(error) == (f"needs {-(-error.required_bytes // 2**20)} MiB of tables, over the "
                          f"memory limit of {-(-error.memory_limit // 2**20)} MiB")
    if limit is not None:
        assert error.memory_limit == limit


def test_file_object_writes_and_reads_a_stream(tmp_path):
    path = tmp_path / "text.mx"
    with moltavex.open(path, "wb", model=5, order=18) as f:
        for piece in _pieces(TEXT, random.Random(9)):
            assert f.write(piece) == len(piece)
        f.write(memoryview(RUNS))
        assert f.tell() == len(TEXT) + len(RUNS)
    assert f.closed
    assert path.read_bytes() == moltavex.compress(TEXT + RUNS, model=5, order=18)

    with moltavex.open(path) as f:
        read, size = [], 1
        while chunk := f.read(size):
            assert len(chunk) <= size
            read.append(chunk)
            size = size % 700 + 1
        assert b"".join(read) == TEXT + RUNS
    with moltavex.open(str(path), "r") as f:
        assert list(f) == (TEXT + RUNS).splitlines(keepends=True)
    with moltavex.open(path, "rt", encoding="latin-1") as f:
        assert f.read() == (TEXT + RUNS).decode("latin-1")

    # Over an existing binary file object, which stays open; bytes after
    # the stream are not read back.
    buffer = io.BytesIO()
    with moltavex.MoltavexFile(buffer, "w", model=0, order=10) as f:
        f.write(TEXT)
    assert not buffer.closed
    buffer.write(TRAILER)
    buffer.seek(0)
    with moltavex.open(buffer) as f:
        assert f.readline() == TEXT[: TEXT.index(b"\n") + 1]
        assert f.read() == TEXT[TEXT.index(b"\n") + 1 :]
    with pytest.raises(ValueError):
        f.read()


def test_file_object_refusals(tmp_path):
    path = tmp_path / "data.mx"
    with moltavex.open(path, "w") as f:
        f.write(TEXT)
    stream = path.read_bytes()
    # Appending would leave a second stream that is never read back.
    with pytest.raises(ValueError, match="'a'"):
        moltavex.open(path, "ab")
    with pytest.raises(FileExistsError):
        moltavex.open(path, "xb")
    assert path.read_bytes() == stream
    # Invalid arguments create no file.
    with pytest.raises(moltavex.MoltavexError, match=r"^Invalid model or order: model must"):
        moltavex.open(tmp_path / "new.mx", "wb", model=9)
    assert not (tmp_path / "new.mx").exists()
    with moltavex.open(path, "rb") as f, pytest.raises(io.UnsupportedOperation):
        f.write(b"x")
    # A cut file fails at its end, after the data before the cut.
    cut = tmp_path / "cut.mx"
    cut.write_bytes(stream[: len(stream) // 2])
    with moltavex.open(cut) as f:
        assert TEXT.startswith(f.read(1000))
        with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
            f.read()


@pytest.fixture(scope="module")
def big():
    data = TEXT * 50
    return data, moltavex.compress(data, model=5, order=20)


@pytest.mark.parametrize("call", ["compress", "Compressor", "decompress"])
def test_another_thread_runs_while_one_codes(call, big):
    data, stream = big
    code = {
        "compress": lambda: moltavex.compress(data, model=5, order=20),
        "Compressor": lambda: moltavex.Compressor(model=5, order=20).compress(data),
        "decompress": lambda: moltavex.decompress(stream),
    }[call]
    window = []

    def work():
        start = time.monotonic()
        code()
        window.extend((start, time.monotonic()))

    worker = threading.Thread(target=work)
    samples = []
    worker.start()
    while worker.is_alive():
        samples.append(time.monotonic())
        time.sleep(0.001)
    worker.join()
    start, end = window
    # Steps of this thread in the middle half of the coding: none at all
    # if the coder held the GIL.
    quarter = (end - start) / 4
    assert any(start + quarter < t < end - quarter for t in samples)
