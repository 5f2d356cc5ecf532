"""The Python module: round trips, streaming in pieces against the one-shot
stream, the end of input, the file object, errors with the library's own
messages, and the GIL released while coding."""

import array
import io
import random
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
        stream = moltavex.compress(data, model, order)
        assert type(stream) is bytes and stream[0] == model * 32 + order
        assert moltavex.compress(bytearray(data), model, order) == stream
        assert moltavex.compress(memoryview(data), model, order) == stream
        for packed in (stream, bytearray(stream), memoryview(stream)):
            assert moltavex.decompress(packed) == data
    # A buffer of wider items counts in bytes; one with gaps is refused.
    wide = array.array("H", range(5000))
    assert moltavex.decompress(moltavex.compress(wide, model, order)) == wide.tobytes()
    with pytest.raises(BufferError):
        moltavex.compress(memoryview(TEXT)[::2])


@pytest.mark.parametrize("model", range(6))
def test_pieces_of_any_size_give_the_one_shot_stream(model):
    r = random.Random(model)
    data = TEXT + RUNS + NOISE[:3000]
    stream = moltavex.compress(data, model, 12)

    compressor = moltavex.Compressor(model, 12)
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
    bare = moltavex.compress(data, model, 12)
    stream = moltavex.compress(data, model, 12, check=True)
    assert stream[:-32] == bare and stream[-32:-24] == bytes.fromhex("C54D565801000000")
    compressor = moltavex.Compressor(model, 12, check=True)
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
    with moltavex.open(name, "wb", model=model, order=12, check=True) as f:
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
    stream = moltavex.compress(TEXT, 1, 12)
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
    stream = moltavex.compress(data, 4, 16) + TRAILER
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
    stream = moltavex.compress(TEXT, 3, 16)
    for cut in (1, 5, len(stream) // 2, len(stream) - 8):
        decompressor = moltavex.Decompressor()
        decompressor.decompress(stream[:cut])
        assert not decompressor.eof and decompressor.needs_input
        with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
            decompressor.flush()
        with pytest.raises(moltavex.MoltavexError, match=r"^Unexpected end of compressed data\.$"):
            moltavex.decompress(stream[:cut])
    # A whole stream has given all its data before any flush; whether a
    # record follows shows only at the end of the input, and flush adds
    # nothing.
    decompressor = moltavex.Decompressor()
    assert decompressor.decompress(stream) == TEXT and not decompressor.eof
    assert decompressor.flush() == b"" and decompressor.eof
    # A stream fed by halves with a flush at the end, as a reader does.
    decompressor = moltavex.Decompressor()
    half = len(stream) // 2
    assert decompressor.decompress(stream[:half]) + decompressor.decompress(stream[half:]) + (
        decompressor.flush()
    ) == TEXT


def test_levels_are_settings_of_the_library_table(tmp_path):
    # level=N gives the stream of the level's model and order, which its
    # header names; one-shot, context and file alike. Levels outside 1..9 fail.
    for level in range(1, 10):
        stream = moltavex.compress(TEXT, level=level)
        model, order = stream[0] >> 5, stream[0] & 31
        assert stream == moltavex.compress(TEXT, model, order)
        compressor = moltavex.Compressor(level=level)
        assert compressor.compress(TEXT) + compressor.flush() == stream
        with moltavex.open(tmp_path / "f.mx", "wb", level=level) as f:
            f.write(TEXT)
        assert (tmp_path / "f.mx").read_bytes() == stream
        assert order <= 26
    for level in (0, 10):
        with pytest.raises(moltavex.MoltavexError, match=r"^Invalid model or order\.$"):
            moltavex.compress(TEXT, level=level)


def test_errors_carry_the_library_messages():
    invalid_stream = r"^Not a valid compressed file\.$"
    invalid_argument = r"^Invalid model or order\.$"
    over_the_limit = r"^Memory limit exceeded\.$"
    for stream in (b"", b"\xe5\x01\x02\x03", b"\xff"):
        with pytest.raises(moltavex.MoltavexError, match=invalid_stream):
            moltavex.decompress(stream)
    for model, order in ((6, 10), (-1, 10), (1, 32), (1, -1)):
        with pytest.raises(moltavex.MoltavexError, match=invalid_argument):
            moltavex.compress(b"data", model, order)
        with pytest.raises(moltavex.MoltavexError, match=invalid_argument):
            moltavex.Compressor(model, order)
    # The memory limit holds for one-shot calls and contexts alike; a
    # stream's header is checked before its tables are taken.
    stream = moltavex.compress(TEXT, 3, 16)
    limit = 17 * 2**16 - 1
    with pytest.raises(moltavex.MoltavexError, match=over_the_limit):
        moltavex.compress(TEXT, 3, 16, memory_limit=limit)
    with pytest.raises(moltavex.MoltavexError, match=over_the_limit):
        moltavex.Compressor(3, 16, memory_limit=limit)
    with pytest.raises(moltavex.MoltavexError, match=over_the_limit):
        moltavex.decompress(stream, memory_limit=limit)
    with pytest.raises(moltavex.MoltavexError, match=over_the_limit):
        moltavex.Decompressor(memory_limit=limit).decompress(stream[:1])
    # By default a stream from elsewhere cannot claim more than every
    # setting up to order 26 takes: a header naming model 3 at order 27
    # (2.1 GiB of tables) is refused before any table is made.
    foreign = bytes([3 * 32 + 27]) + bytes(range(256)) * 100
    with pytest.raises(moltavex.MoltavexError, match=over_the_limit):
        moltavex.decompress(foreign)
    with pytest.raises(moltavex.MoltavexError, match=over_the_limit):
        moltavex.Decompressor().decompress(foreign)
    assert moltavex.decompress(stream, memory_limit=limit + 1) == TEXT
    assert moltavex.decompress(stream, memory_limit=0) == TEXT
    with pytest.raises(ValueError):
        moltavex.decompress(stream, memory_limit=-1)
    compressor = moltavex.Compressor()
    compressor.flush()
    with pytest.raises(ValueError):
        compressor.compress(b"more")
    with pytest.raises(ValueError):
        compressor.flush()


def test_file_object_writes_and_reads_a_stream(tmp_path):
    path = tmp_path / "text.mx"
    with moltavex.open(path, "wb", 5, 18) as f:
        for piece in _pieces(TEXT, random.Random(9)):
            assert f.write(piece) == len(piece)
        f.write(memoryview(RUNS))
        assert f.tell() == len(TEXT) + len(RUNS)
    assert f.closed
    assert path.read_bytes() == moltavex.compress(TEXT + RUNS, 5, 18)

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
    with pytest.raises(moltavex.MoltavexError, match=r"^Invalid model or order\.$"):
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
    return data, moltavex.compress(data, 5, 20)


@pytest.mark.parametrize("call", ["compress", "Compressor", "decompress"])
def test_another_thread_runs_while_one_codes(call, big):
    data, stream = big
    code = {
        "compress": lambda: moltavex.compress(data, 5, 20),
        "Compressor": lambda: moltavex.Compressor(5, 20).compress(data),
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
