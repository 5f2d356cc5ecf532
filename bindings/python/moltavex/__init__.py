"""Moltavex compression for Python, in the shape of the bz2 and lzma modules.

A stream is one header byte (model * 32 + order) and an arithmetic-coded
body that ends with its own end marker. With check=True an integrity
record follows the body: 32 bytes with the stream's length, the data's
length and the XXH64 checksum of the data, which every decoder verifies
(MoltavexError("Compressed data is corrupt.") when they disagree);
readers that do not know the record ignore it. Six models (0..5) and orders 0..31; a model reserves up to
17 * 2**order bytes of tables, and a stream's header alone decides that for
its decompression. memory_limit is a byte count, 0 for no limit, or None
for the library's default: no limit when compressing, and when
decompressing about 1.06 GiB (every setting up to order 26), so that a
stream from elsewhere cannot claim more unless you allow it.

    compress(data, model=1, order=16, *, memory_limit=None, level=None, check=False) -> bytes
        check=True: the stream ends with the integrity record.
    decompress(data, *, memory_limit=None) -> bytes
        One stream. Bytes after the end of the stream are ignored (they are
        not part of it; Decompressor.unused_data gives them): concatenated
        streams are not read as one, unlike bz2. A record after the body
        is verified; since `data` is the whole input, a record at its end
        that the decoded body did not reach (damage that moved the end
        marker) makes the stream corrupt too.
    Compressor(model=1, order=16, *, memory_limit=None, level=None, check=False)
        level (1..9, the program's -1 .. -9, from the library's table)
        replaces model and order, here and in compress().
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
        A record after the body is verified once it is whole, after the
        data was handed out: a mismatch raises then (from .decompress or
        .flush). .eof is set only once the byte after the body (or the end
        of the input, at .flush) shows whether a record follows.
    open(filename, mode="rb", model=1, order=16, *, memory_limit=None,
         level=None, check=False, encoding=None, errors=None, newline=None)
        A MoltavexFile (or, with "t" in mode, a text wrapper of one) over a
        file name or an existing binary file object. Modes "r", "w", "x"
        (with "b" or "t"); "a" is refused, since a second stream after the
        first is not read back. level (writing) replaces model and order;
        check=True (writing): the stream ends with the integrity record;
        reading verifies one whenever it is there.
    MoltavexError
        Every failure the library reports (an invalid or cut stream, a
        memory limit passed, an invalid model or order, a record that does
        not match), with its message: "Not a valid compressed file.",
        "Unexpected end of compressed data.", "Memory limit exceeded.",
        "Out of memory.", "Invalid model or order.", "Compressed data is
        corrupt.".

moltavex.numcodecs.Moltavex, in its own module (it needs numcodecs), is a
codec for chunked arrays (zarr, Dask): each chunk one stream.

Data may be any C-contiguous buffer (bytes, bytearray, memoryview); it is
read in place, and the GIL is released while it is coded. Compressor and
Decompressor objects may be shared between threads.
"""

import builtins
import io
import os

from ._moltavex import (
    Compressor,
    Decompressor,
    MoltavexError,
    __version__,
    compress,
    decompress,
)

__all__ = [
    "Compressor",
    "Decompressor",
    "MoltavexError",
    "MoltavexFile",
    "compress",
    "decompress",
    "open",
]

# The compressed bytes read from a file at a time (the coder's block).
_READ_SIZE = 64 * 1024

_MODE_CLOSED = 0
_MODE_READ = 1
_MODE_WRITE = 2


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
        while True:
            if self._tail:
                if size < 0:
                    size = len(self._tail)
                data, self._tail = self._tail[:size], self._tail[size:]
                return data
            if self._decompressor.eof:
                return b""
            block = b""
            if self._decompressor.needs_input:
                block = self._fp.read(_READ_SIZE)
                if not block:
                    # Raises MoltavexError when the stream is cut.
                    self._tail = self._decompressor.flush()
                    continue
            data = self._decompressor.decompress(block, size)
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

    MoltavexFile(filename, mode="r", *, model=1, order=16, memory_limit=None, level=None,
                 check=False)

    `filename` is a path (str, bytes or os.PathLike), opened and closed
    here, or an existing binary file object, which is left open. Modes:
    "r"/"rb" read the stream (bytes after it are not read), "w"/"wb" write
    a new one, "x"/"xb" too but only to a file that does not exist yet.
    When writing, model and order (or level, 1..9, which replaces them) are
    checked before the file is opened, and the stream is complete once the
    file is closed; check=True ends it
    with the integrity record. Reading verifies a record whenever one
    follows the body.
    """

    def __init__(
        self, filename, mode="r", *, model=1, order=16, memory_limit=None, level=None, check=False
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
                model, order, memory_limit=memory_limit, level=level, check=check
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
    model=1,
    order=16,
    *,
    memory_limit=None,
    level=None,
    check=False,
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
        model=model,
        order=order,
        memory_limit=memory_limit,
        level=level,
        check=check,
    )
    if "t" in mode:
        return io.TextIOWrapper(binary_file, io.text_encoding(encoding), errors, newline)
    return binary_file
