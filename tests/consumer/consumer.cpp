// Round-trips a text through every model with the installed library and
// prints one line per model; exits 1 on any mismatch.
#include <cstdio>
#include <cstring>
#include <moltavex/moltavex.hpp>
#include <vector>

int main() {
  const char text[] = "An installed library, found by its package, used from outside.";
  int failures = 0;
  for (int model = 0; model < moltavex::model_count; ++model) {
    std::vector<std::uint8_t> packed, restored;
    moltavex::Status s = moltavex::compress(text, std::strlen(text), model, 12, packed);
    if (s == moltavex::Status::ok) s = moltavex::decompress(packed.data(), packed.size(), restored);
    const bool same = s == moltavex::Status::ok && restored.size() == std::strlen(text) &&
                      std::memcmp(restored.data(), text, restored.size()) == 0;
    std::printf("%s: %zu -> %zu bytes, %s\n", moltavex::model_name(model), std::strlen(text),
                packed.size(), same ? "restored" : moltavex::status_message(s));
    failures += same ? 0 : 1;
  }
  return failures == 0 ? 0 : 1;
}
