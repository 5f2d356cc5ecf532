// The extension moltavex._moltavex: the C API's one-shot calls and push
// contexts for Python, in the shape of the standard bz2 and lzma modules.
// The package moltavex (moltavex/__init__.py) exports it with the file
// object; its docstrings are the user's documentation.
//
// Contract:
//   - Data comes as any C-contiguous buffer (bytes, bytearray, memoryview,
//     array) and is read in place, never copied, with the GIL released
//     while it is coded; the buffer stays exported meanwhile, so the object
//     lives and a bytearray cannot be resized under the coder.
//   - A status other than MVX_OK raises MoltavexError with the text of
//     mvx_status_message.
//   - Compressor and Decompressor objects may be shared between threads:
//     each guards its context with its own mutex, which is only ever taken
//     with the GIL released, so no thread waits for the GIL while holding
//     a context and no two threads deadlock.
//   - A context's tables (up to 34 GiB) are freed as soon as its stream is
//     complete, not when Python collects the object.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "moltavex/moltavex.h"

namespace py = pybind11;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t no_limit = std::numeric_limits<std::size_t>::max();
// The first output buffer of a call; later ones double what came before.
constexpr std::size_t first_room = std::size_t{1} << 16;

// A failed status. Thrown with or without the GIL, and turned into
// MoltavexError once pybind11 holds it again.
struct Failure {
  mvx_status status;
};

void check(mvx_status status) {
  if (status != MVX_OK) throw Failure{status};
}

// Makes `out` `room` bytes longer, `room` growing with what is already
// there (at most `limit` in all); returns where the new room starts.
std::size_t grow(Bytes& out, std::size_t limit) {
  const std::size_t at = out.size();
  const std::size_t room = std::min(limit - at, std::max(first_room, at));
  out.resize(at + room);
  return at;
}

// A Python object's bytes, exported for as long as this lives (destroyed
// with the GIL held, as pybind11's buffer_info must be).
class Input {
 public:
  explicit Input(const py::buffer& object) : info_(object.request()) {
    if (PyBuffer_IsContiguous(info_.view(), 'C') == 0) {
      throw py::buffer_error("moltavex: the data is not a C-contiguous buffer");
    }
  }
  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(info_.ptr); }
  std::size_t size() const { return static_cast<std::size_t>(info_.size * info_.itemsize); }

 private:
  py::buffer_info info_;
};

py::bytes to_bytes(const Bytes& data) {
  return py::bytes(reinterpret_cast<const char*>(data.data()), data.size());
}

// memory_limit: None for the library's default (when decompressing,
// streams that need more than MVX_DEFAULT_MEMORY_LIMIT are refused), 0 for
// no limit, or a byte count.
mvx_options options_of(const py::object& memory_limit) {
  mvx_options options = MVX_OPTIONS_INIT;
  if (memory_limit.is_none()) return options;
  if (!PyLong_Check(memory_limit.ptr()))
    throw py::type_error("memory_limit must be an int or None");
  if (memory_limit < py::int_(0)) throw py::value_error("memory_limit must not be negative");
  options.memory_limit = PyLong_AsUnsignedLongLong(memory_limit.ptr());
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();
  if (options.memory_limit == 0) options.memory_limit = MVX_NO_MEMORY_LIMIT;
  return options;
}

// Runs f() with the GIL released and `mutex` held.
template <class F>
auto locked(std::mutex& mutex, F&& f) {
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(mutex);
  return f();
}

struct FreeCompressor {
  void operator()(mvx_compressor* c) const { mvx_compressor_free(c); }
};
struct FreeDecompressor {
  void operator()(mvx_decompressor* d) const { mvx_decompressor_free(d); }
};

// A level (the program's -1 .. -9, from the library's table), when given,
// replaces the model and order.
void apply_level(const py::object& level, int& model, int& order) {
  if (level.is_none()) return;
  mvx_setting setting{};
  check(mvx_level_setting(level.cast<int>(), &setting));
  model = setting.model;
  order = setting.order;
}

class Compressor {
 public:
  Compressor(int model, int order, const py::object& memory_limit, const py::object& level,
             bool check_data) {
    apply_level(level, model, order);
    mvx_options options = options_of(memory_limit);
    options.checksum = check_data ? 1 : 0;
    mvx_compressor* c = nullptr;
    check(mvx_compressor_create(&c, model, order, &options));
    context_.reset(c);
  }

  py::bytes compress(const py::buffer& data) {
    const Input in(data);
    const std::optional<Bytes> out = locked(mutex_, [&]() -> std::optional<Bytes> {
      if (!context_) return std::nullopt;
      Bytes out;
      std::size_t taken = 0;
      // Until all is taken and the output did not fill its room (so
      // nothing more waits).
      for (bool full = true; taken < in.size() || full;) {
        const std::size_t at = grow(out, no_limit);
        std::size_t consumed = 0, written = 0;
        check(mvx_compressor_compress(context_.get(), in.data() + taken, in.size() - taken,
                                      &consumed, out.data() + at, out.size() - at, &written));
        full = written == out.size() - at;
        out.resize(at + written);
        taken += consumed;
      }
      return out;
    });
    if (!out) throw py::value_error("Compressor has been flushed");
    return to_bytes(*out);
  }

  py::bytes flush() {
    const std::optional<Bytes> out = locked(mutex_, [&]() -> std::optional<Bytes> {
      if (!context_) return std::nullopt;
      Bytes out;
      for (bool done = false; !done;) {
        const std::size_t at = grow(out, no_limit);
        std::size_t written = 0;
        check(mvx_compressor_finish(context_.get(), out.data() + at, out.size() - at, &written,
                                    &done));
        out.resize(at + written);
      }
      context_.reset();
      return out;
    });
    if (!out) throw py::value_error("Repeated call to flush()");
    return to_bytes(*out);
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<mvx_compressor, FreeCompressor> context_;  // null once flushed
};

// A push decompressor with the input it was given but has not taken: what
// is left when a call's output reached its limit, or the bytes after the
// stream. Not locked itself; the Python class and decompress() use it.
class Decoding {
 public:
  explicit Decoding(const mvx_options& options) {
    mvx_decompressor* d = nullptr;
    check(mvx_decompressor_create(&d, &options));
    context_.reset(d);
  }

  bool eof() const { return eof_; }
  bool needs_input() const { return needs_input_; }
  const Bytes& unused_data() const { return unused_; }

  // Decodes the held input, then in[0, size), appending to `out` until it
  // holds `limit` bytes or the stream ends; what is not taken is held.
  void decode(const std::uint8_t* in, std::size_t size, std::size_t limit, Bytes& out) {
    const bool from_held = held_at_ < held_.size();
    if (from_held) {
      if (size != 0) {
        // New input behind held input: the part already taken goes first.
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(held_at_));
        held_at_ = 0;
        held_.insert(held_.end(), in, in + size);
      }
      in = held_.data() + held_at_;
      size = held_.size() - held_at_;
    }
    std::size_t taken = 0;
    bool room_left = false;
    while (out.size() < limit) {
      const std::size_t at = grow(out, limit);
      std::size_t consumed = 0, written = 0;
      bool ended = false;
      check(mvx_decompressor_decompress(context_.get(), in + taken, size - taken, &consumed,
                                        out.data() + at, out.size() - at, &written, &ended));
      room_left = written < out.size() - at;
      out.resize(at + written);
      taken += consumed;
      if (ended) {
        // The stream is whole: its tables go now.
        eof_ = true;
        unused_.assign(in + taken, in + size);
        context_.reset();
        held_.clear();
        held_at_ = 0;
        needs_input_ = false;
        return;
      }
      // Room left over means that all the input was taken and decoded, but
      // for a beginning of the record's magic after the body, which waits
      // for more input to tell whether a record follows.
      if (room_left) break;
    }
    needs_input_ = room_left;
    if (taken == size) {
      held_.clear();
      held_at_ = 0;
    } else if (from_held) {
      held_at_ += taken;
    } else {
      held_.assign(in + taken, in + size);
      held_at_ = 0;
    }
  }

  // The input is complete: decodes the rest into `out`. MVX_TRUNCATED_STREAM
  // when the stream ends before its end marker (MVX_INVALID_STREAM when
  // there was no input at all).
  void finish(Bytes& out) {
    if (eof_) return;
    decode(nullptr, 0, no_limit, out);
    if (eof_) return;
    for (bool done = false; !done;) {
      const std::size_t at = grow(out, no_limit);
      std::size_t written = 0;
      check(mvx_decompressor_finish(context_.get(), out.data() + at, out.size() - at, &written,
                                    &done));
      out.resize(at + written);
    }
    // Decoded to the end marker (the stream lacked only finishing bytes);
    // held bytes that began no record are not the stream's.
    unused_.assign(held_.begin() + static_cast<std::ptrdiff_t>(held_at_), held_.end());
    held_.clear();
    held_at_ = 0;
    eof_ = true;
    context_.reset();
    needs_input_ = false;
  }

 private:
  std::unique_ptr<mvx_decompressor, FreeDecompressor> context_;  // null after the end
  Bytes held_;
  std::size_t held_at_ = 0;  // the held input is held_[held_at_, size)
  Bytes unused_;
  bool eof_ = false;
  bool needs_input_ = true;
};

class Decompressor {
 public:
  explicit Decompressor(const py::object& memory_limit) : decoding_(options_of(memory_limit)) {}

  py::bytes decompress(const py::buffer& data, py::ssize_t max_length) {
    const Input in(data);
    const std::size_t limit = max_length < 0 ? no_limit : static_cast<std::size_t>(max_length);
    const std::optional<Bytes> out = locked(mutex_, [&]() -> std::optional<Bytes> {
      if (decoding_.eof()) return std::nullopt;
      Bytes out;
      decoding_.decode(in.data(), in.size(), limit, out);
      return out;
    });
    if (!out) {
      PyErr_SetString(PyExc_EOFError, "End of stream already reached");
      throw py::error_already_set();
    }
    return to_bytes(*out);
  }

  py::bytes flush() {
    return to_bytes(locked(mutex_, [&] {
      Bytes out;
      decoding_.finish(out);
      return out;
    }));
  }

  bool eof() {
    return locked(mutex_, [&] { return decoding_.eof(); });
  }
  bool needs_input() {
    return locked(mutex_, [&] { return decoding_.needs_input(); });
  }
  py::bytes unused_data() {
    return to_bytes(locked(mutex_, [&] { return decoding_.unused_data(); }));
  }

 private:
  std::mutex mutex_;
  Decoding decoding_;
};

py::bytes compress(const py::buffer& data, int model, int order, const py::object& memory_limit,
                   const py::object& level, bool check_data) {
  apply_level(level, model, order);
  mvx_options options = options_of(memory_limit);
  options.checksum = check_data ? 1 : 0;
  const Input in(data);
  const std::size_t bound = mvx_compress_bound(in.size());
  if (bound > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw Failure{MVX_OUT_OF_MEMORY};
  // Straight into a bytes object of the bound (its pages are touched only
  // as far as the stream goes), then cut to the stream's length.
  PyObject* out = PyBytes_FromStringAndSize(nullptr, static_cast<py::ssize_t>(bound));
  if (out == nullptr) throw py::error_already_set();
  py::object owner = py::reinterpret_steal<py::object>(out);
  std::size_t written = 0;
  mvx_status status;
  {
    py::gil_scoped_release release;
    status = mvx_compress_with(in.data(), in.size(), model, order, PyBytes_AS_STRING(out), bound,
                               &written, &options);
  }
  check(status);
  owner.release();
  if (_PyBytes_Resize(&out, static_cast<py::ssize_t>(written)) != 0) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(out);
}

// Reads the caller's buffer for mvx_decompress_stream.
struct BufferReader {
  const std::uint8_t* data;
  std::size_t size;

  static std::int64_t read(void* context, std::uint8_t* buffer, std::size_t size) {
    auto* self = static_cast<BufferReader*>(context);
    const std::size_t n = std::min(size, self->size);
    std::copy(self->data, self->data + n, buffer);
    self->data += n;
    self->size -= n;
    return static_cast<std::int64_t>(n);
  }
};

// Appends to a vector; false when it cannot grow.
bool append(void* context, const std::uint8_t* data, std::size_t size) {
  try {
    static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), data, data + size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// A whole job over the whole input, so that the input's end is checked too
// (a record there that the decoded body did not reach).
py::bytes decompress(const py::buffer& data, const py::object& memory_limit) {
  const Input in(data);
  mvx_options options = options_of(memory_limit);
  options.size_hint = in.size();
  options.whole_input = 1;
  Bytes out;
  mvx_status status;
  {
    py::gil_scoped_release release;
    BufferReader reader{in.data(), in.size()};
    status = mvx_decompress_stream(&BufferReader::read, &reader, &append, &out, nullptr, &options);
  }
  check(status == MVX_WRITE_FAILED ? MVX_OUT_OF_MEMORY : status);
  return to_bytes(out);
}

}  // namespace

PYBIND11_MODULE(_moltavex, m) {
  m.doc() = "The coding core of the moltavex package (see its documentation).";
  m.attr("__version__") = mvx_version_string();

  static py::exception<Failure> error(m, "MoltavexError");
  error.attr("__doc__") = "A failure of compression or decompression; the message says which.";
  // Shown where the package exports them.
  error.attr("__module__") = "moltavex";
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const Failure& failure) {
      error(mvx_status_message(failure.status));
    }
  });

  m.def("compress", &compress, py::arg("data"), py::arg("model") = 1, py::arg("order") = 16,
        py::kw_only(), py::arg("memory_limit") = py::none(), py::arg("level") = py::none(),
        py::arg("check") = false,
        "The stream of `data`; `level` (1-9, the program's -1 .. -9) replaces model and "
        "order; check=True appends the integrity record (its checksum).");
  m.def("decompress", &decompress, py::arg("data"), py::kw_only(),
        py::arg("memory_limit") = py::none(),
        "The data of the stream at the start of `data` (bytes after it are ignored); a "
        "record is verified.");

  py::class_<Compressor> compressor(m, "Compressor", "Compresses one stream in pieces.");
  compressor
      .def(py::init<int, int, const py::object&, const py::object&, bool>(), py::arg("model") = 1,
           py::arg("order") = 16, py::kw_only(), py::arg("memory_limit") = py::none(),
           py::arg("level") = py::none(), py::arg("check") = false)
      .def("compress", &Compressor::compress, py::arg("data"),
           "Takes `data`; returns the stream's bytes ready so far.")
      .def("flush", &Compressor::flush, "Returns the rest of the stream; the object is done.");
  compressor.attr("__module__") = "moltavex";

  py::class_<Decompressor> decompressor(m, "Decompressor", "Restores one stream given in pieces.");
  decompressor
      .def(py::init<const py::object&>(), py::kw_only(), py::arg("memory_limit") = py::none())
      .def("decompress", &Decompressor::decompress, py::arg("data"), py::arg("max_length") = -1,
           "Takes `data`; returns the data restored so far, at most max_length bytes when it "
           "is not negative.")
      .def("flush", &Decompressor::flush,
           "At the end of the input: returns the rest of the data, or raises MoltavexError "
           "when the stream was cut before its end.")
      .def_property_readonly("eof", &Decompressor::eof)
      .def_property_readonly("needs_input", &Decompressor::needs_input)
      .def_property_readonly("unused_data", &Decompressor::unused_data);
  decompressor.attr("__module__") = "moltavex";
}
