// moltavex_microbench: the cost per coded bit of each piece of the coding
// loop, with Google Benchmark.
//
//   predict_update/<model>/<order>/<warm>  model.predict() + model.update(bit)
//   code_byte/<model>/<order>              the model's whole-byte path, as the
//                                          drivers run it, with the coder
//                                          replaced by the known bit
//   encode_chain/<model>/<order>           predict + coder step + update, the
//                                          bare serial chain: register-level
//                                          coder steps straight over memory,
//                                          no records, no transform, no I/O
//   decode_chain/<model>/<order>           the same for decoding
//   coder/encode_bit, coder/decode_bit     the coder step alone, on a fixed
//                                          sequence of bits and probabilities
//   checksum/xxh64                         the integrity record's XXH64 over
//                                          32 MiB in 64 KiB blocks, as a job
//                                          hashes its data (`per_byte`)
//   counter_predict/independent|dependent  one BitCounter prediction (its
//                                          64-by-32-bit division), with the
//                                          divisions free to overlap or each
//                                          waiting for the previous result
//
// The bits are those of real text: by default the English texts of the
// corpus concatenated and cut to 512 KiB (4 Mi bits), else a generated
// English-like text of the same size; MOLTAVEX_MICRO_FILE names another
// file. The `per_bit` counter is the time per coded bit (shown in seconds
// with an SI prefix: 5.1n is 5.1 ns).
//
// Every iteration codes the whole bit sequence with a fresh model, as a job
// does, without whatever prefetching the drivers add. With warm = 1 (and in
// the chains) the model's tables are faulted in
// before the clock starts: a zero written to every page keeps them fresh but
// resident, so the figure is the coding work and its cache misses alone.
// With warm = 0 the first-touch page faults are included, as in a real job
// of that size.
#include <benchmark/benchmark.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "coder/arith.h"
#include "models/registry.h"
#include "pipeline/record.h"

namespace {

using mx::bench::Bytes;

constexpr std::size_t sample_size = 512 * 1024;

struct Sample {
  std::string source;
  Bytes data;
  std::vector<std::uint8_t> bits;
  // Bits and probabilities of the Simple Bitwise Model at order 16 on the
  // sample: a realistic fixed sequence for the coder alone.
  std::vector<mx::Prob32> probabilities;
  Bytes coded;  // that sequence encoded, for the decoder
};

Sample& sample() {
  static Sample s;
  return s;
}

void load_sample() {
  Sample& s = sample();
  if (const char* file = std::getenv("MOLTAVEX_MICRO_FILE")) {
    if (mx::bench::read_file(file, s.data) && !s.data.empty()) s.source = file;
  }
  if (s.source.empty() &&
      mx::bench::read_concatenation(mx::bench::corpus_dir(), mx::bench::text_names(), s.data)) {
    s.source = "text.cat (corpus texts)";
  }
  if (s.source.empty()) {
    s.data = mx::bench::synthetic_text(sample_size);
    s.source = "synthetic English-like text";
  }
  if (s.data.size() > sample_size) s.data.resize(sample_size);
  s.bits = mx::bench::bits_of(s.data);
}

// Faults in every page of a table without changing it: the zero written is
// the value already there.
void touch(const mx::ZeroedBlock& block) {
  volatile unsigned char* p = block.data();
  for (std::uint64_t i = 0; i < block.size(); i += 4096) p[i] = 0;
  if (block.size() > 0) p[block.size() - 1] = 0;
}

template <class M>
std::unique_ptr<mx::OwnedModel<M>> fresh_model(int order, bool warm) {
  auto model = mx::create_model<M>(order);
  if (model && warm) touch(model->tables());
  return model;
}

void set_per_bit(benchmark::State& state, std::size_t bits) {
  state.counters["per_bit"] =
      benchmark::Counter(static_cast<double>(bits), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(bits));
}

template <class M>
void predict_update(benchmark::State& state) {
  const auto& bits = sample().bits;
  const int order = static_cast<int>(state.range(0));
  const bool warm = state.range(1) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto model = fresh_model<M>(order, warm);
    if (!model) {
      state.SkipWithError("model could not be created");
      break;
    }
    state.ResumeTiming();
    M local = *model;
    std::uint32_t sum = 0;
    for (std::uint8_t bit : bits) {
      sum += local.predict();
      local.update(bit);
    }
    benchmark::DoNotOptimize(sum);
    state.PauseTiming();
    model->state() = local;
    model.reset();  // freeing a large table is not part of the loop
    state.ResumeTiming();
  }
  set_per_bit(state, bits.size());
}

template <class M>
Bytes encode_with(int order, std::uint64_t& bytes_out) {
  Bytes coded;
  mx::VectorSink sink{&coded};
  mx::ByteWriter writer;
  mx::writer_open_function(writer, &mx::VectorSink::write, &sink);
  mx::ArithEncoder encoder;
  mx::encoder_create(encoder, writer);
  auto model = fresh_model<M>(order, false);
  for (std::uint8_t bit : sample().bits) {
    mx::encode_bit(encoder, bit, model->predict());
    model->update(bit);
  }
  mx::encoder_finish(encoder);
  bytes_out = encoder.bytes_out;
  return coded;
}

// The model's whole-byte path alone: each bit's prediction is summed and
// the known bit returned, so that nothing but the model's own chain
// (table load, prediction, update, next context) is timed.
template <class M>
MX_NOINLINE std::uint32_t model_bytes(M& model, const Bytes& data) {
  std::uint32_t sum = 0;
  for (const std::uint8_t c : data) {
    model.template code_byte<false, true>(
        [&](int k, mx::Prob32 p) {
          sum += p;
          return (c >> k) & 1;
        },
        c);
  }
  return sum;
}

template <class M>
void code_byte(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto model = fresh_model<M>(order, true);
    state.ResumeTiming();
    benchmark::DoNotOptimize(model_bytes(*model, sample().data));
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  set_per_bit(state, sample().bits.size());
}

// The bare chains: the coder's register-level steps straight over memory
// (no stream records, no run-length transform, no buffer checks) around
// the model's whole-byte path, as in the drivers' stretches, without their
// prefetching. Out of line, so that the compiler treats them as the
// drivers' stretch functions.
template <class M>
MX_NOINLINE std::uint64_t chain_encode(M& model, const Bytes& data, std::uint8_t* out) {
  std::uint64_t low = 0, high = 0xFFFFFFFFu;
  for (const std::uint8_t c : data) {
    model.template code_byte<false, true>(
        [&](int k, mx::Prob32 p) {
          mx::encode_step_of_byte(low, high, c, k, p, [&out](std::uint8_t byte) { *out++ = byte; });
          return (c >> k) & 1;
        },
        c);
  }
  return low;
}

template <class M>
MX_NOINLINE int chain_decode(M& model, const Bytes& data, const std::uint8_t* in) {
  mx::DecoderRegisters r{0, 0xFFFFFFFFu, 0, 0, 0};
  for (int i = 0; i < 4; ++i) r.code = (r.code << 8) | *in++;
  int errors = 0;
  for (const std::uint8_t c : data) {
    const int byte = model.template code_byte<false, false>([&](int, mx::Prob32 p) {
      std::uint64_t mid;
      std::int32_t last_byte;
      return mx::decode_step(r, p, mid, last_byte, [&in]() -> int { return *in++; });
    });
    errors |= byte ^ c;
  }
  return errors;
}

template <class M>
void encode_chain(benchmark::State& state) {
  const auto& bits = sample().bits;
  const int order = static_cast<int>(state.range(0));
  Bytes out(bits.size() / 2 + 4096);  // text codes to well under 4 bits a byte
  for (auto _ : state) {
    state.PauseTiming();
    auto model = fresh_model<M>(order, true);
    state.ResumeTiming();
    benchmark::DoNotOptimize(chain_encode(*model, sample().data, out.data()));
    state.PauseTiming();
    model.reset();
    state.ResumeTiming();
  }
  set_per_bit(state, bits.size());
}

template <class M>
void decode_chain(benchmark::State& state) {
  const auto& bits = sample().bits;
  const int order = static_cast<int>(state.range(0));
  std::uint64_t bytes_out = 0;
  Bytes coded = encode_with<M>(order, bytes_out);
  state.counters["bits_per_byte"] =
      8.0 * static_cast<double>(coded.size()) / static_cast<double>(sample().data.size());
  coded.resize(coded.size() + 16, 0xFF);  // a corrupt run could not read past the end
  bool mismatch = false;
  for (auto _ : state) {
    state.PauseTiming();
    auto model = fresh_model<M>(order, true);
    state.ResumeTiming();
    const int errors = chain_decode(*model, sample().data, coded.data());
    state.PauseTiming();
    mismatch |= errors != 0;
    model.reset();
    state.ResumeTiming();
  }
  if (mismatch) state.SkipWithError("decoded bits differ from the coded ones");
  set_per_bit(state, bits.size());
}

void prepare_coder_sequence() {
  Sample& s = sample();
  auto model = fresh_model<mx::SimpleBitwiseModel>(16, false);
  s.probabilities.reserve(s.bits.size());
  for (std::uint8_t bit : s.bits) {
    s.probabilities.push_back(model->predict());
    model->update(bit);
  }
  mx::VectorSink sink{&s.coded};
  mx::ByteWriter writer;
  mx::writer_open_function(writer, &mx::VectorSink::write, &sink);
  mx::ArithEncoder encoder;
  mx::encoder_create(encoder, writer);
  for (std::size_t i = 0; i < s.bits.size(); ++i) {
    mx::encode_bit(encoder, s.bits[i], s.probabilities[i]);
  }
  mx::encoder_finish(encoder);
}

void coder_encode_bit(benchmark::State& state) {
  const auto& bits = sample().bits;
  const auto& probabilities = sample().probabilities;
  for (auto _ : state) {
    state.PauseTiming();
    mx::CountingSink sink;
    auto writer = std::make_unique<mx::ByteWriter>();
    mx::writer_open_function(*writer, &mx::CountingSink::write, &sink);
    mx::ArithEncoder encoder;
    mx::encoder_create(encoder, *writer);
    state.ResumeTiming();
    for (std::size_t i = 0; i < bits.size(); ++i) {
      mx::encode_bit(encoder, bits[i], probabilities[i]);
    }
    benchmark::DoNotOptimize(encoder.low);
  }
  set_per_bit(state, bits.size());
}

void coder_decode_bit(benchmark::State& state) {
  const auto& bits = sample().bits;
  const auto& probabilities = sample().probabilities;
  bool mismatch = false;
  for (auto _ : state) {
    state.PauseTiming();
    mx::MemorySource source{sample().coded.data(), sample().coded.size()};
    auto reader = std::make_unique<mx::ByteReader>();
    mx::reader_open_function(*reader, &mx::MemorySource::read, &source);
    mx::ArithDecoder decoder;
    mx::decoder_create(decoder, *reader);
    state.ResumeTiming();
    int errors = 0;
    for (std::size_t i = 0; i < bits.size(); ++i) {
      errors |= mx::decode_bit(decoder, probabilities[i]) ^ bits[i];
    }
    benchmark::DoNotOptimize(errors);
    mismatch |= errors != 0;
  }
  if (mismatch) state.SkipWithError("decoded bits differ from the coded ones");
  set_per_bit(state, bits.size());
}

// Counters with the spread of counts a model table holds after real data:
// totals from fresh up to a few million, zeros anywhere within them.
std::vector<mx::BitCounter> sample_counters() {
  std::vector<mx::BitCounter> counters(4096);
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (auto& c : counters) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    const std::uint32_t total = static_cast<std::uint32_t>((x & 0xFFFFFF) >> ((x >> 24) % 24));
    const std::uint32_t zeros =
        total == 0 ? 0 : static_cast<std::uint32_t>((x >> 32) % (total + 1));
    c.zeros_less_one = zeros;
    c.total_less_two = total;
  }
  return counters;
}

void counter_predict_independent(benchmark::State& state) {
  const auto counters = sample_counters();
  for (auto _ : state) {
    std::uint32_t sum = 0;
    for (const auto& c : counters) sum += mx::counter_predict(c);
    benchmark::DoNotOptimize(sum);
  }
  state.counters["per_predict"] = benchmark::Counter(
      static_cast<double>(counters.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Each prediction picks the next counter, as the coded bit picks the next
// context in a model, so the divisions run one after another.
void counter_predict_dependent(benchmark::State& state) {
  const auto counters = sample_counters();
  for (auto _ : state) {
    std::uint32_t index = 0;
    for (std::size_t i = 0; i < counters.size(); ++i) {
      const mx::Prob32 p = mx::counter_predict(counters[index]);
      index = (index + 1 + (p & 1)) & 4095;
    }
    benchmark::DoNotOptimize(index);
  }
  state.counters["per_predict"] = benchmark::Counter(
      static_cast<double>(counters.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class M>
void register_model(const char* label) {
  const std::string name = label;
  benchmark::RegisterBenchmark(("predict_update/" + name).c_str(), predict_update<M>)
      ->ArgsProduct({{16, 22}, {1, 0}})
      ->ArgNames({"order", "warm"})
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("code_byte/" + name).c_str(), code_byte<M>)
      ->Arg(16)
      ->Arg(22)
      ->ArgName("order")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("encode_chain/" + name).c_str(), encode_chain<M>)
      ->Arg(16)
      ->Arg(22)
      ->ArgName("order")
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark(("decode_chain/" + name).c_str(), decode_chain<M>)
      ->Arg(16)
      ->Arg(22)
      ->ArgName("order")
      ->Unit(benchmark::kMillisecond);
}

// The record's checksum over a 32 MiB input, block by block: set beside a
// job's time on the same input (bench/README.md), it is the record's cost.
void checksum_xxh64(benchmark::State& state) {
  constexpr std::size_t input_bytes = std::size_t{32} << 20;
  constexpr std::size_t block = std::size_t{64} << 10;
  Bytes input(input_bytes);
  for (std::size_t i = 0; i < input.size(); ++i) {
    input[i] = sample().data[i % sample().data.size()];
  }
  for (auto _ : state) {
    mx::DataHash hash;
    for (std::size_t at = 0; at < input.size(); at += block) hash.update(input.data() + at, block);
    benchmark::DoNotOptimize(hash.digest());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input_bytes));
  state.counters["per_byte"] = benchmark::Counter(
      static_cast<double>(input_bytes),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // Every iteration creates and frees a model. Left alone, glibc would raise
  // its mmap threshold after the first large free and serve the later tables
  // from the heap, placed and cleared differently from the fresh pages a
  // new process gets; pinning the threshold keeps every iteration alike.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  load_sample();
  prepare_coder_sequence();
  benchmark::AddCustomContext("bit_source", sample().source);
  benchmark::AddCustomContext("bits", std::to_string(sample().bits.size()));

  benchmark::RegisterBenchmark("counter_predict/independent", counter_predict_independent);
  benchmark::RegisterBenchmark("counter_predict/dependent", counter_predict_dependent);
  benchmark::RegisterBenchmark("checksum/xxh64", checksum_xxh64)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("coder/encode_bit", coder_encode_bit)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("coder/decode_bit", coder_decode_bit)->Unit(benchmark::kMillisecond);
  register_model<mx::BytewiseHashedModel>("m0_BytewiseHashed");
  register_model<mx::SimpleBitwiseModel>("m1_SimpleBitwise");
  register_model<mx::AdaptiveBitwiseModel>("m2_AdaptiveBitwise");
  register_model<mx::IndexedBitwiseModelArray>("m3_IndexedBitwiseArray");
  register_model<mx::HashedBitwiseModel>("m4_HashedBitwise");
  register_model<mx::CombinedModel>("m5_Combined");

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
