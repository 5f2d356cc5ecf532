"""Moltavex compression for Python, in the shape of the bz2 and lzma modules.

A stream is one header byte (model * 32 + order) and an arithmetic-coded
body that ends with its own end marker. An integrity record follows the
body unless check=False: 32 bytes with the stream's length, the data's
length and the XXH64 checksum of the data, which every decoder verifies
(MoltavexError("Compressed data is corrupt.") when they disagree);
readers that do not know the record ignore it. Six models (0..5) and
orders 0..31; a model reserves up to 17 * 2**order bytes of tables, and a
stream's header alone decides that for its decompression. memory_limit is
a byte count, 0 for no limit, or None for the library's default: no limit
when compressing, and when decompressing about 1.06 GiB (every setting up
to order 26), so that a stream from elsewhere cannot claim more unless you
allow it.

The defaults are the program's: its default level (as `moltavex FILE`),
with the record. The level is the second positional argument (bz2's
compresslevel, also accepted by that name): 1..9, the program's -1 .. -9,
from the library's table. model= and order= (keywords) give a setting
instead; one given alone takes model 1 or order 16 for the other.

    compress(data, level=None, *, compresslevel=None, model=None, order=None,
             check=True, memory_limit=None) -> bytes
    decompress(data, *, memory_limit=None) -> bytes
        One stream. Bytes after the end of the stream are ignored (they are
        not part of it; Decompressor.unused_data gives them): concatenated
        streams are not read as one, unlike bz2. A record after the body
        is verified; since `data` is the whole input, a record at its end
        that the decoded body did not reach (damage that moved the end
        marker) makes the stream corrupt too.
    Compressor(level=None, *, compresslevel=None, model=None, order=None,
               check=True, memory_limit=None)
        .compress(data) -> the stream's bytes ready so far
        .flush() -> the rest; the object cannot be used after.
    Decompressor(*, memory_limit=None)
        .decompress(data, max_length=-1) -> the data restored so far (at
            most max_length bytes when that is not negative; the input not
            taken yet is kept for the next call)
        .flush() -> at the end of the input, the rest of the data; raises
            MoltavexError("Unexpected end of compressed data.") when the
            stream was cut before its end marker
        .eof, .unused_data (the bytes after the stream), .needs_input
        .eof turns True once the stream has ended and all its data is
        handed out, with or without the record, so that a bz2-style
        `while not d.eof` loop and _compression.DecompressReader stop
        there. A record is verified once it is whole, after the data was
        handed out: a mismatch raises then (from .decompress or .flush).
        A body that ended with the input given so far may still be
        followed by its record: while .needs_input stays True after eof,
        .decompress takes more bytes, verifies a record among them, and
        leaves other bytes in .unused_data.
    open(filename, mode="rb", level=None, *, compresslevel=None, model=None,
         order=None, check=True, memory_limit=None, encoding=None,
         errors=None, newline=None)
        A MoltavexFile (or, with "t" in mode, a text wrapper of one) over a
        file name or an existing binary file object. Modes "r", "w", "x"
        (with "b" or "t"); "a" is refused, since a second stream after the
        first is not read back. The compression arguments (writing) are
        compress()'s; reading verifies a record whenever it is there.
    MoltavexError
        Every failure the library reports (an invalid or cut stream, a
        memory limit passed, an invalid argument, a record that does not
        match), with its message: "Not a valid compressed file.",
        "Unexpected end of compressed data.", "Out of memory.", "Compressed
        data is corrupt.", "Invalid model or order: ...", "Invalid level:
        ...". .status is the library's Status. A memory limit passed says
        "needs N MiB of tables, over the memory limit of M MiB" and gives
        .required_bytes and .memory_limit.
    Status
        The library's statuses: Status.MEMORY_LIMIT, Status.CORRUPT, ...

Arguments of the wrong kind raise TypeError, and values out of range
MoltavexError (INVALID_ARGUMENT), naming the argument.

moltavex.numcodecs.Moltavex, in its own module (it needs numcodecs), is a
codec for chunked arrays (zarr, Dask): each chunk one stream.

Data may be any C-contiguous buffer (bytes, bytearray, memoryview); it is
read in place, and the GIL is released while it is coded. Compressor and
Decompressor objects may be shared between threads.
"""

import builtins
import io
import os

from . import _moltavex
from ._moltavex import MoltavexError, Status, __version__

__all__ = [
    "Compressor",
    "Decompressor",
    "MoltavexError",
    "MoltavexFile",
    "Status",
    "compress",
    "decompress",
    "open",
]

# What an explicit model or order alone takes for the other, as before
# levels were the default: model 1, order 16.
_MODEL = 1
_ORDER = 16

# The compressed bytes read from a file at a time (the coder's block).
_READ_SIZE = 64 * 1024

_MODE_CLOSED = 0
_MODE_READ = 1
_MODE_WRITE = 2


def _setting(level, compresslevel, model, order):
    """The (level, model, order) the extension takes: a level, or a model
    and an order (one given alone takes the other's former default); the
    extension checks their types and ranges."""
    if compresslevel is not None:
        if level is not None:
            raise TypeError("Give level or compresslevel, not both")
        level = compresslevel
    if model is None and order is None:
        return level, None, None
    if level is not None:
        raise ValueError("Give a level, or a model and an order, not both")
    return None, _MODEL if model is None else model, _ORDER if order is None else order


def compress(
    data, level=None, *, compresslevel=None, model=None, order=None, check=True, memory_limit=None
):
    """The stream of `data` (any C-contiguous buffer).

    level (or compresslevel, as in bz2): 1..9, the program's -1 .. -9;
    None is the program's default level. model and order, keywords,
    replace the level. check=False leaves out the integrity record.
    """
    return _moltavex.compress(
        data, *_setting(level, compresslevel, model, order), memory_limit, check
    )


def decompress(data, *, memory_limit=None):
    """The data of the stream at the start of `data` (bytes after it are
    ignored); a record is verified."""
    return _moltavex.decompress(data, memory_limit)


class Compressor:
    """Compresses one stream in pieces.

    Compressor(level=None, *, compresslevel=None, model=None, order=None, check=True,
               memory_limit=None), the arguments as compress() takes them.
    """

    __slots__ = ("_context",)

    def __init__(
        self, level=None, *, compresslevel=None, model=None, order=None, check=True,
        memory_limit=None
    ):
        self._context = _moltavex.Compressor(
            *_setting(level, compresslevel, model, order), memory_limit, check
        )

    def compress(self, data):
        """Takes `data`; returns the stream's bytes ready so far."""
        return self._context.compress(data)

    def flush(self):
        """Returns the rest of the stream; the object is done."""
        return self._context.flush()


class Decompressor:
    """Restores one stream given in pieces.

    Decompressor(*, memory_limit=None). eof is True once the stream has
    ended: after the body's last byte, with or without the record, once
    all its data is handed out. A record that comes after that, in a later
    call, is still taken and verified; bytes that are not one go to
    unused_data. needs_input stays True after eof while it takes such
    bytes.
    """

    __slots__ = ("_context",)

    def __init__(self, *, memory_limit=None):
        self._context = _moltavex.Decompressor(memory_limit)

    def decompress(self, data, max_length=-1):
        """Takes `data`; returns the data restored so far, at most
        max_length bytes when it is not negative."""
        return self._context.decompress(data, max_length)

    def flush(self):
        """At the end of the input: returns the rest of the data, or raises
        MoltavexError when the stream was cut before its end."""
        return self._context.flush()

    @property
    def eof(self):
        return self._context.eof

    @property
    def needs_input(self):
        return self._context.needs_input

    @property
    def unused_data(self):
        return self._context.unused_data


class _Reader(io.RawIOBase):
    """The data restored from the stream at the start of a binary file."""

    def __init__(self, fp, memory_limit):
        self._fp = fp
        self._decompressor = Decompressor(memory_limit=memory_limit)
        self._tail = b""  # what flush() restored beyond a caller's size
        self._pos = 0

    def readable(self):
        return True

    def tell(self):
        return self._pos

    def _read(self, size):
        """At most `size` bytes (any number when negative); b"" at the end."""
        context = self._decompressor._context
        while True:
            if self._tail:
                if size < 0:
                    size = len(self._tail)
                data, self._tail = self._tail[:size], self._tail[size:]
                return data
            # After the body (eof) it may still need input: the file's
            # next bytes tell whether a record follows, which is verified.
            if context.eof and not context.needs_input:
                return b""
            block = b""
            if context.needs_input:
                block = self._fp.read(_READ_SIZE)
                if not block:
                    # Raises MoltavexError when the stream is cut.
                    self._tail = context.flush()
                    continue
            data = context.decompress(block, size)
            if data:
                return data

    def readinto(self, b):
        with memoryview(b) as view, view.cast("B") as byte_view:
            data = self._read(len(byte_view)) if len(byte_view) else b""
            byte_view[: len(data)] = data
        self._pos += len(data)
        return len(data)

    def readall(self):
        chunks = []
        while data := self._read(-1):
            chunks.append(data)
            self._pos += len(data)
        return b"".join(chunks)


class MoltavexFile(io.BufferedIOBase):
    """A binary file whose content is stored as a Moltavex stream.

    MoltavexFile(filename, mode="r", *, level=None, compresslevel=None, model=None,
                 order=None, check=True, memory_limit=None)

    `filename` is a path (str, bytes or os.PathLike), opened and closed
    here, or an existing binary file object, which is left open. Modes:
    "r"/"rb" read the stream (bytes after it are not read), "w"/"wb" write
    a new one, "x"/"xb" too but only to a file that does not exist yet.
    When writing, the level (or compresslevel; None: the program's
    default) or the model and order, as compress() takes them, are checked
    before the file is opened, and the stream is complete once the file is
    closed; it ends with the integrity record unless check=False. Reading
    verifies a record whenever one follows the body.
    """

    def __init__(
        self, filename, mode="r", *, level=None, compresslevel=None, model=None, order=None,
        check=True, memory_limit=None
    ):
        self._fp = None
        self._closefp = False
        self._mode = _MODE_CLOSED
        if mode in ("", "r", "rb"):
            mode, mode_code = "rb", _MODE_READ
        elif mode in ("w", "wb", "x", "xb"):
            mode, mode_code = mode[0] + "b", _MODE_WRITE
            # Before the file is opened: invalid arguments create nothing.
            self._compressor = Compressor(
                level, compresslevel=compresslevel, model=model, order=order, check=check,
                memory_limit=memory_limit,
            )
            self._pos = 0
        elif mode in ("a", "ab"):
            raise ValueError(
                "Mode 'a' is not supported: a stream appended to another is not read back"
            )
        else:
            raise ValueError(f"Invalid mode: {mode!r}")

        if isinstance(filename, (str, bytes, os.PathLike)):
            self._fp = builtins.open(filename, mode)
            self._closefp = True
        elif hasattr(filename, "read") or hasattr(filename, "write"):
            self._fp = filename
        else:
            raise TypeError("filename must be a str, bytes, file or PathLike object")
        self._mode = mode_code
        if mode_code == _MODE_READ:
            self._buffer = io.BufferedReader(_Reader(self._fp, memory_limit), _READ_SIZE)

    def close(self):
        """Ends the stream when writing and closes the file opened here."""
        if self._mode == _MODE_CLOSED:
            return
        try:
            if self._mode == _MODE_READ:
                self._buffer.close()
            else:
                self._fp.write(self._compressor.flush())
        finally:
            try:
                if self._closefp:
                    self._fp.close()
            finally:
                self._fp = None
                self._closefp = False
                self._mode = _MODE_CLOSED
                self._buffer = None
                self._compressor = None

    @property
    def closed(self):
        return self._mode == _MODE_CLOSED

    def fileno(self):
        self._check_not_closed()
        return self._fp.fileno()

    def seekable(self):
        return False

    def readable(self):
        self._check_not_closed()
        return self._mode == _MODE_READ

    def writable(self):
        self._check_not_closed()
        return self._mode == _MODE_WRITE

    def read(self, size=-1):
        self._check_can_read()
        return self._buffer.read(size)

    def read1(self, size=-1):
        self._check_can_read()
        if size < 0:
            size = io.DEFAULT_BUFFER_SIZE
        return self._buffer.read1(size)

    def readinto(self, b):
        self._check_can_read()
        return self._buffer.readinto(b)

    def readline(self, size=-1):
        self._check_can_read()
        return self._buffer.readline(size)

    def peek(self, n=0):
        self._check_can_read()
        return self._buffer.peek(n)

    def write(self, data):
        """Compresses `data` (any C-contiguous buffer); returns its length."""
        self._check_can_write()
        length = len(data) if isinstance(data, (bytes, bytearray)) else memoryview(data).nbytes
        self._fp.write(self._compressor.compress(data))
        self._pos += length
        return length

    def tell(self):
        """The position in the uncompressed data."""
        self._check_not_closed()
        return self._buffer.tell() if self._mode == _MODE_READ else self._pos

    def _check_not_closed(self):
        if self.closed:
            raise ValueError("I/O operation on closed file")

    def _check_can_read(self):
        self._check_not_closed()
        if self._mode != _MODE_READ:
            raise io.UnsupportedOperation("File not open for reading")

    def _check_can_write(self):
        self._check_not_closed()
        if self._mode != _MODE_WRITE:
            raise io.UnsupportedOperation("File not open for writing")


def open(
    filename,
    mode="rb",
    level=None,
    *,
    compresslevel=None,
    model=None,
    order=None,
    check=True,
    memory_limit=None,
    encoding=None,
    errors=None,
    newline=None,
):
    """Opens a Moltavex stream in binary or text mode; see MoltavexFile.

    With "t" in mode the file is wrapped in io.TextIOWrapper with the
    encoding, errors and newline given; in binary mode these must be None.
    """
    if "t" in mode:
        if "b" in mode:
            raise ValueError(f"Invalid mode: {mode!r}")
    else:
        if encoding is not None:
            raise ValueError("Argument 'encoding' not supported in binary mode")
        if errors is not None:
            raise ValueError("Argument 'errors' not supported in binary mode")
        if newline is not None:
            raise ValueError("Argument 'newline' not supported in binary mode")
    binary_file = MoltavexFile(
        filename,
        mode.replace("t", ""),
        level=level,
        compresslevel=compresslevel,
        model=model,
        order=order,
        check=check,
        memory_limit=memory_limit,
    )
    if "t" in mode:
        return io.TextIOWrapper(binary_file, io.text_encoding(encoding), errors, newline)
    return binary_file
