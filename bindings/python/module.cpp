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
//   - Arguments come unconverted (the package's Python functions fix their
//     number and names) and are checked here, so that a wrong one raises
//     an error that names it, never pybind11's, which shows the data.
//   - A status other than MVX_OK raises MoltavexError with the text of
//     mvx_status_message (or one that names the wrong argument), .status
//     the library's status; MVX_MEMORY_LIMIT says the bytes of tables the
//     job needs and the limit, as the program does, and carries both.
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
#include <string>
#include <vector>

#include "moltavex/moltavex.hpp"

namespace py = pybind11;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t no_limit = std::numeric_limits<std::size_t>::max();
// The first output buffer of a call; later ones double what came before.
constexpr std::size_t first_room = std::size_t{1} << 16;

// A failed status. Thrown with or without the GIL, and turned into
// MoltavexError once pybind11 holds it again. For MVX_MEMORY_LIMIT, the
// bytes of tables the job needs and the limit in force, when known (0:
// not known); `message`, when not empty, replaces the library's.
struct Failure {
  mvx_status status;
  std::uint64_t required = 0;
  std::uint64_t limit = 0;
  std::string message = {};
};

void check(mvx_status status) {
  if (status != MVX_OK) throw Failure{status};
}

// As check(); a memory limit passed says by how much: `required` bytes of
// tables (0: not known) against `limit`.
void check_memory(mvx_status status, std::uint64_t required, std::uint64_t limit) {
  if (status == MVX_MEMORY_LIMIT && required != 0) throw Failure{status, required, limit};
  check(status);
}

std::string message_of(const Failure& failure) {
  if (!failure.message.empty()) return failure.message;
  if (failure.status == MVX_MEMORY_LIMIT && failure.required != 0) {
    return moltavex::memory_limit_message(failure.required, failure.limit);
  }
  return mvx_status_message(failure.status);
}

std::string type_name(const py::handle& object) { return Py_TYPE(object.ptr())->tp_name; }

// An int argument (bool is refused: True is no level), or nullopt for
// None; TypeError naming the argument otherwise.
std::optional<long long> int_argument(const py::handle& value, const char* name) {
  if (value.is_none()) return std::nullopt;
  if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be an int or None, not " + type_name(value));
  }
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (overflow != 0)
    return overflow < 0 ? std::numeric_limits<long long>::min()
                        : std::numeric_limits<long long>::max();
  return n;
}

// MVX_INVALID_ARGUMENT with a message that names the argument and its range.
[[noreturn]] void out_of_range(const char* what, const char* name, long long value, long long low,
                               long long high) {
  std::string shown = value == std::numeric_limits<long long>::min() ||
                              value == std::numeric_limits<long long>::max()
                          ? std::string("a number that large")
                          : std::to_string(value);
  throw Failure{MVX_INVALID_ARGUMENT, 0, 0,
                std::string(what) + ": " + name + " must be " + std::to_string(low) + " to " +
                    std::to_string(high) + ", not " + shown + "."};
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
  explicit Input(const py::handle& object) : info_(request(object)) {
    if (PyBuffer_IsContiguous(info_.view(), 'C') == 0) {
      throw py::buffer_error("moltavex: the data is not a C-contiguous buffer");
    }
  }
  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(info_.ptr); }
  std::size_t size() const { return static_cast<std::size_t>(info_.size * info_.itemsize); }

 private:
  static py::buffer_info request(const py::handle& object) {
    if (PyObject_CheckBuffer(object.ptr()) == 0) {
      throw py::type_error("data must be a bytes-like object, not " + type_name(object));
    }
    return py::reinterpret_borrow<py::buffer>(object).request();
  }

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

// The setting of a compression: `model` and `order` when given (the
// package passes both or neither, and then no level), else `level` (the
// program's -1 .. -9; None: the program's default, MVX_LEVEL_DEFAULT).
// The one place where a level becomes a setting: for an input of unknown
// length (a Compressor) the level's row within the memory limit; for a
// whole input, the library chooses as the level does (mvx_compress_auto
// with options.level), which `level` then holds.
struct Setting {
  mvx_setting setting;
  int level = 0;  // 0: an exact setting
};

Setting setting_of(const py::handle& level, const py::handle& model, const py::handle& order,
                   const mvx_options& options) {
  const std::optional<long long> given_level = int_argument(level, "level");
  const std::optional<long long> given_model = int_argument(model, "model");
  const std::optional<long long> given_order = int_argument(order, "order");
  if (given_model && given_order) {
    if (*given_model < 0 || *given_model >= MVX_MODEL_COUNT) {
      out_of_range("Invalid model or order", "model", *given_model, 0, MVX_MODEL_COUNT - 1);
    }
    if (*given_order < 0 || *given_order > MVX_MAX_ORDER) {
      out_of_range("Invalid model or order", "order", *given_order, 0, MVX_MAX_ORDER);
    }
    return {{static_cast<int>(*given_model), static_cast<int>(*given_order)}, 0};
  }
  const long long chosen = given_level.value_or(MVX_LEVEL_DEFAULT);
  if (chosen < MVX_LEVEL_MIN || chosen > MVX_LEVEL_MAX) {
    out_of_range("Invalid level", "level", chosen, MVX_LEVEL_MIN, MVX_LEVEL_MAX);
  }
  Setting setting{{}, static_cast<int>(chosen)};
  check(mvx_level_setting_within(setting.level, options.memory_limit, &setting.setting));
  return setting;
}

// The options of a compression: the memory limit, the record (`check`,
// any truth value) and the input's size when known (0: not known).
mvx_options compress_options(const py::handle& memory_limit, const py::handle& check_data,
                             std::size_t size) {
  mvx_options options = options_of(py::reinterpret_borrow<py::object>(memory_limit));
  const int truth = PyObject_IsTrue(check_data.ptr());
  if (truth < 0) throw py::error_already_set();
  options.checksum = truth;
  options.size_hint = size;
  return options;
}

class Compressor {
 public:
  Compressor(const py::object& level, const py::object& model, const py::object& order,
             const py::object& memory_limit, const py::object& check_data) {
    const mvx_options options = compress_options(memory_limit, check_data, 0);
    const mvx_setting setting = setting_of(level, model, order, options).setting;
    mvx_compressor* c = nullptr;
    check_memory(mvx_compressor_create(&c, setting.model, setting.order, &options),
                 mvx_model_memory(setting.model, setting.order),
                 moltavex::memory_limit_in_force(&options, true));
    context_.reset(c);
  }

  py::bytes compress(const py::object& data) {
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

// Whether a push decompressor's stream may end where its input has reached
// (its end marker decoded, the body's finishing bytes taken, all data
// handed out, no record begun).
bool may_end(const mvx_decompressor* d) {
  bool result = false;
  check(mvx_decompressor_may_end(d, &result));
  return result;
}

// A push decompressor with the input it was given but has not taken: what
// is left when a call's output reached its limit, or the bytes after the
// stream. Not locked itself; the Python class and decompress() use it.
//
// The stream has ended (`ended`) once the library says so: the byte after
// the body was seen (a record, if it began one, taken whole and verified)
// or the input was finished. Before that, `body_ended` is set while the
// stream may end where the input has reached; eof is either. A body that
// ended at the end of a piece may still be followed by its record: the
// next piece goes to the same context, which verifies it, and needs_input
// stays set until the library's end.
class Decoding {
 public:
  explicit Decoding(const mvx_options& options)
      : limit_(moltavex::memory_limit_in_force(&options, false)) {
    mvx_decompressor* d = nullptr;
    check(mvx_decompressor_create(&d, &options));
    context_.reset(d);
  }

  bool ended() const { return ended_; }
  bool eof() const { return ended_ || body_ended_; }
  bool needs_input() const { return needs_input_; }
  const Bytes& unused_data() const { return unused_; }

  // Decodes the held input, then in[0, size), appending to `out` until it
  // holds `limit` bytes or the stream ends; what is not taken is held.
  void decode(const std::uint8_t* in, std::size_t size, std::size_t limit, Bytes& out) {
    if (!header_ && size != 0) header_ = in[0];
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
      fail_if(mvx_decompressor_decompress(context_.get(), in + taken, size - taken, &consumed,
                                          out.data() + at, out.size() - at, &written, &ended));
      room_left = written < out.size() - at;
      out.resize(at + written);
      taken += consumed;
      if (ended) {
        unused_.assign(in + taken, in + size);
        end();
        return;
      }
      // Room left over: the context took all it could of the input (all
      // of it, or all but bytes it waits to see more of) and handed out
      // all it decoded.
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
    // Input the context waits to see more of (the start of what may be a
    // record) is, should the input end here, not the stream's.
    body_ended_ = room_left && may_end(context_.get());
    if (body_ended_) {
      unused_.assign(held_.begin() + static_cast<std::ptrdiff_t>(held_at_), held_.end());
    }
  }

  // The input is complete: decodes the rest into `out`. MVX_TRUNCATED_STREAM
  // when the stream ends before its end marker (MVX_INVALID_STREAM when
  // there was no input at all).
  void finish(Bytes& out) {
    if (ended_) return;
    decode(nullptr, 0, no_limit, out);
    if (ended_) return;
    for (bool done = false; !done;) {
      const std::size_t at = grow(out, no_limit);
      std::size_t written = 0;
      fail_if(mvx_decompressor_finish(context_.get(), out.data() + at, out.size() - at, &written,
                                      &done));
      out.resize(at + written);
    }
    // Decoded to the end marker (the stream lacked only finishing bytes);
    // input held back (the start of what was not a record) is not the
    // stream's.
    unused_.assign(held_.begin() + static_cast<std::ptrdiff_t>(held_at_), held_.end());
    end();
  }

 private:
  // The stream has ended: its tables go now.
  void end() {
    ended_ = true;
    body_ended_ = false;
    needs_input_ = false;
    context_.reset();
    held_.clear();
    held_at_ = 0;
  }

  void fail_if(mvx_status status) {
    check_memory(status, header_ ? moltavex::stream_memory(*header_) : 0, limit_);
  }

  std::unique_ptr<mvx_decompressor, FreeDecompressor> context_;  // null after the end
  std::uint64_t limit_;                                          // the tables' limit in force
  std::optional<std::uint8_t> header_;  // the stream's first byte, once seen
  Bytes held_;
  std::size_t held_at_ = 0;  // the held input is held_[held_at_, size)
  Bytes unused_;
  bool ended_ = false;
  bool body_ended_ = false;
  bool needs_input_ = true;
};

// max_length: an int, any negative one for no limit.
std::size_t length_limit(const py::handle& max_length) {
  if (!PyLong_Check(max_length.ptr())) {
    throw py::type_error("max_length must be an int, not " + type_name(max_length));
  }
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(max_length.ptr(), &overflow);
  if (overflow < 0 || (overflow == 0 && n < 0)) return no_limit;
  if (overflow > 0 || static_cast<unsigned long long>(n) > PY_SSIZE_T_MAX) {
    return static_cast<std::size_t>(PY_SSIZE_T_MAX);
  }
  return static_cast<std::size_t>(n);
}

class Decompressor {
 public:
  explicit Decompressor(const py::object& memory_limit) : decoding_(options_of(memory_limit)) {}

  py::bytes decompress(const py::object& data, const py::object& max_length) {
    const Input in(data);
    const std::size_t limit = length_limit(max_length);
    const std::optional<Bytes> out = locked(mutex_, [&]() -> std::optional<Bytes> {
      if (decoding_.ended()) return std::nullopt;
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

py::bytes compress(const py::object& data, const py::object& level, const py::object& model,
                   const py::object& order, const py::object& memory_limit,
                   const py::object& check_data) {
  const Input in(data);
  mvx_options options = compress_options(memory_limit, check_data, in.size());
  const Setting choice = setting_of(level, model, order, options);
  mvx_setting setting = choice.setting;
  options.level = choice.level;
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
    status = choice.level != 0
                 ? mvx_compress_auto(in.data(), in.size(), PyBytes_AS_STRING(out), bound, &written,
                                     &setting, nullptr, &options)
                 : mvx_compress_with(in.data(), in.size(), setting.model, setting.order,
                                     PyBytes_AS_STRING(out), bound, &written, &options);
  }
  check_memory(status, mvx_model_memory(setting.model, setting.order),
               moltavex::memory_limit_in_force(&options, choice.level == 0));
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
py::bytes decompress(const py::object& data, const py::object& memory_limit) {
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
  check_memory(status == MVX_WRITE_FAILED ? MVX_OUT_OF_MEMORY : status,
               in.size() != 0 ? moltavex::stream_memory(in.data()[0]) : 0,
               moltavex::memory_limit_in_force(&options, false));
  return to_bytes(out);
}

}  // namespace

// The package (moltavex/__init__.py) gives these their public names and
// signatures, and passes every argument, positionally.
PYBIND11_MODULE(_moltavex, m) {
  m.doc() = "The coding core of the moltavex package (see its documentation).";
  m.attr("__version__") = mvx_version_string();

  py::enum_<mvx_status> status(m, "Status", "The library's status of a failure (mvx_status).");
  status.value("OK", MVX_OK)
      .value("OPEN_INPUT_FAILED", MVX_OPEN_INPUT_FAILED)
      .value("CREATE_OUTPUT_FAILED", MVX_CREATE_OUTPUT_FAILED)
      .value("READ_FAILED", MVX_READ_FAILED)
      .value("WRITE_FAILED", MVX_WRITE_FAILED)
      .value("OUT_OF_MEMORY", MVX_OUT_OF_MEMORY)
      .value("INVALID_STREAM", MVX_INVALID_STREAM)
      .value("TRUNCATED_STREAM", MVX_TRUNCATED_STREAM)
      .value("INVALID_ARGUMENT", MVX_INVALID_ARGUMENT)
      .value("INTERRUPTED", MVX_INTERRUPTED)
      .value("OUTPUT_TOO_SMALL", MVX_OUTPUT_TOO_SMALL)
      .value("MEMORY_LIMIT", MVX_MEMORY_LIMIT)
      .value("INVALID_CALL", MVX_INVALID_CALL)
      .value("CORRUPT", MVX_CORRUPT);
  status.attr("__module__") = "moltavex";

  static py::exception<Failure> error(m, "MoltavexError");
  error.attr("__doc__") =
      "A failure of compression or decompression; the message says which, .status gives the "
      "library's Status, and a memory limit passed gives .required_bytes (the tables the job "
      "needs) and .memory_limit (the limit in force).";
  // Shown where the package exports them.
  error.attr("__module__") = "moltavex";
  error.attr("status") = py::none();
  error.attr("required_bytes") = py::none();
  error.attr("memory_limit") = py::none();
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const Failure& failure) {
      py::object raised = py::handle(error.ptr())(message_of(failure));
      raised.attr("status") = py::cast(failure.status);
      if (failure.required != 0) {
        raised.attr("required_bytes") = py::int_(failure.required);
        raised.attr("memory_limit") = py::int_(failure.limit);
      }
      PyErr_SetObject(error.ptr(), raised.ptr());
    }
  });

  m.def("compress", &compress);
  m.def("decompress", &decompress);

  py::class_<Compressor>(m, "Compressor")
      .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&,
                    const py::object&>())
      .def("compress", &Compressor::compress)
      .def("flush", &Compressor::flush);

  py::class_<Decompressor>(m, "Decompressor")
      .def(py::init<const py::object&>())
      .def("decompress", &Decompressor::decompress)
      .def("flush", &Decompressor::flush)
      .def_property_readonly("eof", &Decompressor::eof)
      .def_property_readonly("needs_input", &Decompressor::needs_input)
      .def_property_readonly("unused_data", &Decompressor::unused_data);
}
