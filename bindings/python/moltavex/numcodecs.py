"""A numcodecs codec for chunked arrays (zarr, and Dask through zarr).

    Moltavex(level=None, model=None, order=None, *, check=True, memory_limit=None)

Each chunk becomes one ordinary stream, byte for byte what
moltavex.compress gives for the chunk's bytes with the same settings, so
moltavex.decompress and the program's `moltavex d` restore a chunk file on
their own. Installed with pip, the codec is found under the id "moltavex"
through the entry point group numcodecs.codecs:
numcodecs.get_codec({"id": "moltavex", "model": 3, "order": 20}) needs no
import of this module, and neither does zarr when it opens an array that
names it. Imported, the module registers the codec itself too (for a
package found without its metadata, on PYTHONPATH say).

Configuration (every value JSON-compatible):
    level           a compression level, or
    model, order    a model (0..5) and an order (0..31), one given alone
                    taking model 1 or order 16 for the other, as
                    moltavex.compress does; a level excludes a model and an
                    order. With none of them, model 1 at order 16: chunks
                    are coded as they always were here (moltavex.compress's
                    own default is now the program's level).
    check           whether each stream carries the integrity record (on
                    by default: a damaged chunk then fails with
                    "Compressed data is corrupt." instead of coming back
                    as wrong data; older readers ignore the record)
    memory_limit    the most bytes of model tables a chunk's coding may
                    take, compressing and decompressing (0: no limit)

The object holds only its configuration: it pickles to other processes
(Dask workers), and one object may code on several threads at once.
"""

import numcodecs.abc
import numcodecs.registry
from numcodecs.compat import ensure_contiguous_ndarray, ndarray_copy

from . import _MODEL, compress, decompress

__all__ = ["Moltavex"]


def _check_int(name, value, low=None):
    if value is None:
        return
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int or None, not {type(value).__name__}")
    if low is not None and value < low:
        raise ValueError(f"{name} must not be below {low}")


class Moltavex(numcodecs.abc.Codec):
    """Each chunk coded as one Moltavex stream; see the module's documentation."""

    codec_id = "moltavex"

    def __init__(self, level=None, model=None, order=None, *, check=True, memory_limit=None):
        if level is not None and (model is not None or order is not None):
            raise ValueError("Give a level, or a model and an order, not both")
        _check_int("level", level)
        _check_int("model", model)
        _check_int("order", order)
        _check_int("memory_limit", memory_limit, 0)
        if not isinstance(check, bool):
            raise TypeError(f"check must be a bool, not {type(check).__name__}")
        # The configuration, exactly as given: get_config() reports these
        # attributes (all of them, None included) and from_config() passes
        # them back to __init__.
        self.level = level
        self.model = model
        self.order = order
        self.check = check
        self.memory_limit = memory_limit

    def _compress_keywords(self):
        # The one place where the configuration becomes moltavex.compress's
        # keywords: a setting left at None is not passed, and with no
        # setting at all the model is, so that the module's order default
        # completes the codec's old setting.
        keywords = {"memory_limit": self.memory_limit, "check": self.check}
        for name in ("level", "model", "order"):
            value = getattr(self, name)
            if value is not None:
                keywords[name] = value
        if self.level is None and self.model is None and self.order is None:
            keywords["model"] = _MODEL
        return keywords

    def encode(self, buf):
        """The stream of `buf`'s bytes (any contiguous buffer, numpy arrays included)."""
        return compress(ensure_contiguous_ndarray(buf), **self._compress_keywords())

    def decode(self, buf, out=None):
        """The data of the stream in `buf`; copied into `out` when given (of the data's size)."""
        data = decompress(ensure_contiguous_ndarray(buf), memory_limit=self.memory_limit)
        if out is None:
            return data
        view = ensure_contiguous_ndarray(out)
        if view.nbytes != len(data):
            raise ValueError(f"out holds {view.nbytes} bytes and the stream restores {len(data)}")
        ndarray_copy(data, view)
        return out


numcodecs.registry.register_codec(Moltavex)
