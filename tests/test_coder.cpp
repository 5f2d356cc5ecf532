// Arithmetic encoder and decoder: the exact interval arithmetic, the bytes
// emitted, priming and end of input, and round trips under hostile
// probabilities, including the degenerate split.
#include <gtest/gtest.h>

#include "coder/arith.h"
#include "support.h"

namespace mx {
namespace {

using test::Bytes;

struct EncoderRig {
  Bytes coded;
  VectorSink sink{&coded};
  ByteWriter writer;
  ArithEncoder encoder;
  EncoderRig() {
    writer_open_function(writer, &VectorSink::write, &sink);
    encoder_create(encoder, writer);
  }
  Bytes bytes() {
    writer_drain(writer);
    return coded;
  }
};

struct DecoderRig {
  Bytes data;
  MemorySource source;
  ByteReader reader;
  ArithDecoder decoder;
  explicit DecoderRig(Bytes body) : data(std::move(body)), source(test::source_of(data)) {
    reader_open_function(reader, &MemorySource::read, &source);
    decoder_create(decoder, reader);
  }
};

TEST(Encoder, SplitAndUpdateFromStartValues) {
  struct Case {
    int bit;
    Prob32 p;
    std::uint64_t low, high;
    Bytes emitted;
  };
  const Case cases[] = {
      {1, 0x80000000u, 0, 0x80000000u, {}},
      {0, 0x80000000u, 0x80000001u, 0xFFFFFFFFu, {}},
      {0, 0x40000000u, 0xC0000001u, 0xFFFFFFFFu, {}},
      {1, 0, 0, 0xFFFFFFFDu, {}},  // t = 0: the 0 bit keeps the two top values
      {0, 0, 0x00FFFFFFFE000000ull, 0x00FFFFFFFFFFFFFFull, {0xFF, 0xFF, 0xFF}},
      {1, 0xFFFFFFFFu, 0, 0x01FFFFFFu, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    EncoderRig rig;
    encode_bit(rig.encoder, c.bit, c.p);
    EXPECT_EQ(rig.encoder.low, c.low) << c.bit << " " << c.p;
    EXPECT_EQ(rig.encoder.high, c.high) << c.bit << " " << c.p;
    EXPECT_EQ(rig.encoder.bytes_out, c.emitted.size());
    EXPECT_EQ(rig.bytes(), c.emitted);
  }
}

TEST(Encoder, RenormalisesAcrossATopByteStep) {
  EncoderRig rig;
  rig.encoder.low = 0x12FF0000u;
  rig.encoder.high = 0x13000100u;
  encode_bit(rig.encoder, 1, 0x80000000u);
  EXPECT_EQ(rig.encoder.mid, 0x12FF8080u);
  EXPECT_EQ(rig.encoder.low, 0x000012FF00000000ull);
  EXPECT_EQ(rig.encoder.high, 0x000012FF8080FFFFull);
  EXPECT_EQ(rig.bytes(), (Bytes{0x12, 0xFF}));

  EncoderRig four;
  four.encoder.low = 0x12FFFFFEu;
  four.encoder.high = 0x13000000u;
  encode_bit(four.encoder, 0, 0x80000000u);
  EXPECT_EQ(four.encoder.mid, 0x12FFFFFFu);
  EXPECT_EQ(four.bytes(), (Bytes{0x13, 0, 0, 0}));
  EXPECT_EQ(four.encoder.low & 0xFFFFFFFFu, 0u);
  EXPECT_EQ(four.encoder.high & 0xFFFFFFFFu, 0xFFFFFFFFu);
}

TEST(Encoder, FinishFlushesTheLookAhead) {
  struct Case {
    std::vector<std::pair<int, Prob32>> bits;
    Bytes body;
  };
  const Case cases[] = {
      {{}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {{{1, 0x80000000u}}, {0x80, 0, 0, 0}},
      {{{0, 0x80000000u}}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {{{1, 0xFFFFFFFFu}}, {0, 0, 0, 1, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    EncoderRig rig;
    for (auto [bit, p] : c.bits) encode_bit(rig.encoder, bit, p);
    encoder_finish(rig.encoder);
    EXPECT_EQ(rig.coded, c.body);
  }
}

TEST(Split, DegenerateIntervalsLeaveRoomForBothBits) {
  // Range 1, and range 2 below one half: the plain split gives mid = high,
  // leaving nothing for a 0. The shared split hands the 0 bit `high`.
  EXPECT_EQ(split_interval(0x12FFFFFFu, 0x13000000u, 0x80000000u), 0x12FFFFFFu);
  EXPECT_EQ(split_interval(0x12FFFFFFu, 0x13000000u, 0), 0x12FFFFFFu);
  EXPECT_EQ(split_interval(0x12FFFFFEu, 0x13000000u, 0x7FFFFFFFu), 0x12FFFFFFu);
  // Range 2 at one half or above splits normally.
  EXPECT_EQ(split_interval(0x12FFFFFEu, 0x13000000u, 0x80000000u), 0x12FFFFFFu);
  // Ordinary intervals are untouched by the corrections.
  EXPECT_EQ(split_interval(0, 0xFFFFFFFFu, 0x80000000u), 0x80000000u);
  EXPECT_EQ(split_interval(0, 0xFFFFFFFFu, 0), 0xFFFFFFFDu);
}

TEST(Decoder, DecidesPrimesAndShiftsLikeTheEncoder) {
  {
    DecoderRig rig({0x80, 0, 0, 0});
    EXPECT_EQ(decode_bit(rig.decoder, 0x80000000u), 1);  // code equal to mid decodes 1
    EXPECT_EQ(rig.decoder.high, 0x80000000u);
    EXPECT_EQ(rig.source.offset, 4u);
    EXPECT_EQ(rig.decoder.end_of_input, 0);
  }
  {
    DecoderRig rig({0x80, 0, 0, 1});
    EXPECT_EQ(decode_bit(rig.decoder, 0x80000000u), 0);
    EXPECT_EQ(rig.decoder.low, 0x80000001u);
  }
  {
    DecoderRig rig({0, 0, 0, 1, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(decode_bit(rig.decoder, 0xFFFFFFFFu), 1);
    EXPECT_EQ(rig.decoder.low, 0u);
    EXPECT_EQ(rig.decoder.high, 0x01FFFFFFu);
    EXPECT_EQ(rig.decoder.code, 0x01FFFFFFu);
    EXPECT_EQ(rig.decoder.bytes_in, 3u);
    EXPECT_EQ(rig.decoder.end_of_input, 0);
  }
}

TEST(Decoder, EndOfInputStopsShiftingButKeepsTheBit) {
  DecoderRig rig({0, 0, 0, 1});
  EXPECT_EQ(decode_bit(rig.decoder, 0xFFFFFFFFu), 1);
  EXPECT_EQ(rig.decoder.end_of_input, 1);
  EXPECT_EQ(rig.decoder.last_byte, -1);
  EXPECT_EQ(rig.decoder.low, 0u);
  EXPECT_EQ(rig.decoder.high, 1u);
  EXPECT_EQ(rig.decoder.code, 1u);
}

TEST(Decoder, ShortBodyPrimesToAllOnesAndDecodesZeros) {
  for (std::size_t size = 0; size < 4; ++size) {
    DecoderRig rig(Bytes(size, 0x00));
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(rig.decoder.end_of_input, 0) << size << " " << i;
      EXPECT_EQ(decode_bit(rig.decoder, 0x80000000u), 0);
    }
    EXPECT_EQ(rig.decoder.code, ~std::uint64_t{0});
    EXPECT_EQ(rig.decoder.end_of_input, 1);
    EXPECT_EQ(rig.decoder.low, 0xFF000001u);
    EXPECT_EQ(rig.decoder.high, 0xFFFFFFFFu);
  }
}

// Encodes bits under probabilities, decodes them back and checks the
// decoder ran four bytes ahead without meeting the end.
void expect_round_trip(const std::vector<int>& bits, const std::vector<Prob32>& probs) {
  EncoderRig rig;
  std::vector<std::uint64_t> emitted_after;
  for (std::size_t i = 0; i < bits.size(); ++i) {
    encode_bit(rig.encoder, bits[i], probs[i]);
    emitted_after.push_back(rig.encoder.bytes_out);
  }
  encoder_finish(rig.encoder);
  DecoderRig dec(rig.coded);
  for (std::size_t i = 0; i < bits.size(); ++i) {
    ASSERT_EQ(decode_bit(dec.decoder, probs[i]), bits[i]) << "bit " << i;
    ASSERT_EQ(dec.decoder.bytes_in, emitted_after[i]) << "bit " << i;
  }
  EXPECT_EQ(dec.decoder.end_of_input, 0);
}

TEST(RoundTrip, RandomBitsUnderExtremeProbabilities) {
  std::uint64_t x = 12345;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  const Prob32 extremes[] = {0, 1, 2, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
  for (int round = 0; round < 20; ++round) {
    std::vector<int> bits;
    std::vector<Prob32> probs;
    for (int i = 0; i < 5000; ++i) {
      const std::uint64_t r = next();
      bits.push_back(static_cast<int>(r & 1));
      probs.push_back((r >> 8) % 3 == 0 ? extremes[(r >> 16) % 7] : static_cast<Prob32>(r >> 32));
    }
    expect_round_trip(bits, probs);
  }
}

TEST(RoundTrip, DegenerateStateDuringDataAndFinish) {
  // From the start values, a 1 at p = 0xED000000 leaves [0, 0x13000000] and
  // a 0 at p = 60 leaves [0x12FFFFFD, 0x13000000]; a 0 at p = 0 then narrows
  // to the range-1 interval [0x12FFFFFF, 0x13000000], where the plain split
  // has no value for a 0 bit.
  const std::vector<int> prefix_bits = {1, 0, 0};
  const std::vector<Prob32> prefix_probs = {0xED000000u, 60, 0};
  {
    EncoderRig rig;
    for (std::size_t i = 0; i < prefix_bits.size(); ++i) {
      encode_bit(rig.encoder, prefix_bits[i], prefix_probs[i]);
    }
    ASSERT_EQ(rig.encoder.low, 0x12FFFFFFu);
    ASSERT_EQ(rig.encoder.high, 0x13000000u);
  }
  for (int next_bit : {0, 1}) {
    for (Prob32 p : {Prob32{0}, Prob32{0x80000000u}, Prob32{0xFFFFFFFFu}}) {
      // The state met by a data bit, followed by more data.
      std::vector<int> bits = prefix_bits;
      std::vector<Prob32> probs = prefix_probs;
      bits.push_back(next_bit);
      probs.push_back(p);
      for (int i = 0; i < 64; ++i) {
        bits.push_back((i * 7) % 3 == 0);
        probs.push_back(0x30000000u + static_cast<Prob32>(i) * 0x01000000u);
      }
      expect_round_trip(bits, probs);
    }
  }
  // The state met by the finish itself, right after the prefix.
  expect_round_trip(prefix_bits, prefix_probs);
}

}  // namespace
}  // namespace mx
