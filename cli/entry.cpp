#include "cli/entry.h"

#include <string>

#include "cli/console.h"
#include "cli/tokenizer.h"
#include "io/streams.h"
#include "models/model_table.h"
#include "pipeline/drivers.h"

namespace mx::cli {

namespace {

// Prints the empty line and "Encoding using <model>..." when coding starts.
void announce(void*, JobKind kind, const char* model_name) {
  std::string line = kind == JobKind::encoding ? "Encoding using " : "Decoding using ";
  line += model_name;
  line += "...";
  print_line("");
  print_line(line.c_str());
}

int finish(Status status) {
  if (status == Status::ok) return exit_success;
  print_line(status_message(status));
  return exit_failure;
}

int usage() {
  print_usage();
  return exit_usage;
}

int run_compress(char** slots, bool strip_name_quotes) {
  const int order_value = parse_decimal(slots[2]);
  if (order_value == -1 || slots[3] == nullptr) return usage();
  const int order = order_value & 0x1F;

  char* input_name = slots[3];
  char* output_name = slots[4] != nullptr ? slots[4] : concat_alloc(input_name, ".mx");
  if (output_name == nullptr) return finish(Status::out_of_memory);

  int model = 0;
  if (slots[1][1] != '\0') {
    model = parse_decimal(slots[1] + 1);
    if (model < 0 || model >= model_count) model = default_model;
  }

  if (strip_name_quotes) {
    strip_quotes(input_name);
    strip_quotes(output_name);
  }
  const JobObserver observer{&announce, nullptr};
  return finish(compress_file(input_name, output_name, model, order, &observer));
}

int run_decompress(char** slots, bool strip_name_quotes) {
  char* input_name = slots[2];
  char* output_name = slots[3] != nullptr ? slots[3] : concat_alloc(input_name, ".dec");
  if (output_name == nullptr) return finish(Status::out_of_memory);
  if (strip_name_quotes) {
    strip_quotes(input_name);
    strip_quotes(output_name);
  }
  StreamPair pair;
  Status status = open_streams(input_name, output_name, pair);
  if (status == Status::ok) {
    const JobObserver observer{&announce, nullptr};
    status = decompress_file(pair.reader, pair.writer, &observer);
  }
  return finish(status);
}

int dispatch(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count <= 2) return usage();
  switch (slots[1][0]) {
    case 'c': return run_compress(slots, strip_name_quotes);
    case 'd': return run_decompress(slots, strip_name_quotes);
    default: return usage();
  }
}

}  // namespace

int program_main(std::size_t count, char** slots, bool strip_name_quotes) {
  print_line(banner);
  const int status = dispatch(count, slots, strip_name_quotes);
  print_line("");
  return status;
}

}  // namespace mx::cli
