// The classic commands (see classic.h).
#include "cli/classic.h"

#include <csignal>
#include <string>

#include "cli/console.h"
#include "cli/environment.h"
#include "cli/exit_status.h"
#include "cli/file_jobs.h"
#include "cli/progress.h"
#include "cli/system.h"
#include "cli/tokenizer.h"

namespace mx::cli {

namespace {

// Number of the signal that asked the job to stop, 0 while none has.
const volatile std::sig_atomic_t* interrupt_signal = nullptr;

// What the observer of a classic job knows: its progress line, and for the
// automatic choice the setting chosen, told before coding starts.
struct ClassicConsole {
  ProgressLine progress;
  const JobResult* result = nullptr;
  bool announce_choice = false;

  ClassicConsole(bool terminal, std::uint64_t size) : progress(terminal, size) {}

  // The empty line, "Chose model <m> at order <o>." for the automatic
  // choice, and "Encoding using <model>..." when coding starts.
  static void started(void* context, bool decompressing, const char* model_name) {
    auto* self = static_cast<ClassicConsole*>(context);
    print_line("");
    if (self->announce_choice) {
      const std::string line = "Chose model " + std::to_string(self->result->chosen.model) +
                               " at order " + std::to_string(self->result->chosen.order) + ".";
      print_line(line.c_str());
    }
    const std::string line =
        std::string(decompressing ? "Decoding using " : "Encoding using ") + model_name + "...";
    print_line(line.c_str());
    ProgressLine::started(&self->progress, decompressing);
  }
  static void progress_made(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out) {
    ProgressLine::update(&static_cast<ClassicConsole*>(context)->progress, bytes_in, bytes_out);
  }
};

int finish(moltavex::Status status) {
  if (status == moltavex::Status::ok) return exit_success;
  // The program has always said "Out of memory." for tables over its
  // limit too.
  print_line(status == moltavex::Status::memory_limit
                 ? moltavex::status_message(moltavex::Status::out_of_memory)
                 : moltavex::status_message(status));
  if (status == moltavex::Status::interrupted && *interrupt_signal != 0) {
    return 128 + *interrupt_signal;
  }
  return exit_failure;
}

int usage() {
  print_usage();
  return exit_usage;
}

int fail(const char* message) {
  print_line(message);
  return exit_failure;
}

// ":" (any name that starts with it) is the standard stream.
bool standard(const char* name) { return name[0] == ':'; }

// Runs a job with the progress line, the interrupt flag and the memory
// limit attached. A job that succeeds ends with the summary on a terminal,
// unless it prints its own (`summary` false).
int run_with_console(JobKind kind, const char* input_name, const char* output_name,
                     moltavex::Setting setting, JobResult& result, bool summary = true) {
  const Environment& env = environment();
  if (!env.memory_limit_valid) {
    print_line("Invalid memory limit in MOLTAVEX_MEMLIMIT.");
    return exit_usage;
  }
  moltavex::Options options;
  options.memory_limit = memory_limit(0, kind == JobKind::compress_auto);
  JobRequest request;
  request.kind = kind;
  request.input = input_name;
  request.standard_input = standard(input_name);
  request.output = output_name != nullptr ? output_name : "";
  request.standard_output = output_name != nullptr && standard(output_name);
  request.setting = setting;
  ClassicConsole console(sys::is_terminal(sys::Stream::error),
                         input_size(request.input, request.standard_input));
  console.result = &result;
  console.announce_choice = kind == JobKind::compress_auto;
  moltavex::Observer observer;
  observer.started = &ClassicConsole::started;
  observer.progress = &ClassicConsole::progress_made;
  observer.context = &console;
  observer.stop = interrupt_signal;
  const moltavex::Status status = run_file_job(request, result, &observer, &options);
  if (status == moltavex::Status::ok && summary) {
    console.progress.summarize();
  } else {
    console.progress.erase();
  }
  return finish(status);
}

inline constexpr char not_to_terminal[] = "Compressed data not written to a terminal.";
inline constexpr char not_from_terminal[] = "Compressed data not read from a terminal.";

// The output name: the one given, or the input's with `suffix`; null when
// it cannot be allocated. Quotes go after the name is derived, as a raw
// Windows command line needs.
char* output_name(char* input_name, char* given, const char* suffix, bool strip_name_quotes) {
  char* output = given != nullptr ? given : concat_alloc(input_name, suffix);
  if (output != nullptr && strip_name_quotes) {
    strip_quotes(input_name);
    strip_quotes(output);
  }
  return output;
}

int run_compress(char** slots, bool strip_name_quotes, JobKind kind) {
  moltavex::Setting setting;
  char** names = slots + 2;  // a IN [OUT]
  if (kind == JobKind::compress) {
    const int order_value = parse_decimal(slots[2]);
    if (order_value == -1 || slots[3] == nullptr) return usage();
    setting.order = order_value & 0x1F;
    setting.model = 0;
    if (slots[1][1] != '\0') {
      setting.model = parse_decimal(slots[1] + 1);
      if (setting.model < 0 || setting.model >= moltavex::model_count) {
        setting.model = moltavex::default_model;
      }
    }
    names = slots + 3;  // c ORDER IN [OUT]
  }
  char* output = output_name(names[0], names[1], ".mx", strip_name_quotes);
  if (output == nullptr) return finish(moltavex::Status::out_of_memory);
  if (output[0] == ':' && sys::is_terminal(sys::Stream::output)) return fail(not_to_terminal);
  JobResult result;
  return run_with_console(kind, names[0], output, setting, result);
}

int run_decompress(char** slots, bool strip_name_quotes) {
  char* output = output_name(slots[2], slots[3], ".dec", strip_name_quotes);
  if (output == nullptr) return finish(moltavex::Status::out_of_memory);
  if (slots[2][0] == ':' && sys::is_terminal(sys::Stream::input)) return fail(not_from_terminal);
  JobResult result;
  return run_with_console(JobKind::decompress, slots[2], output, {}, result);
}

// Decodes a stream to its end, discarding the data, and names what it
// holds.
int run_test(char** slots, bool strip_name_quotes) {
  char* input_name = slots[2];
  if (strip_name_quotes) strip_quotes(input_name);
  if (input_name[0] == ':' && sys::is_terminal(sys::Stream::input)) return fail(not_from_terminal);
  JobResult result;
  const int status = run_with_console(JobKind::test, input_name, nullptr, {}, result, false);
  if (status == exit_success) {
    const moltavex::StreamInfo& info = result.info;
    const std::string line = "Model " + std::to_string(info.model) + " at order " +
                             std::to_string(info.order) + ": " +
                             std::to_string(info.compressed_bytes) + " bytes compressed, " +
                             std::to_string(info.original_bytes) + " bytes original, " +
                             (info.checksum != 0 ? "checksum verified." : "no checksum.");
    print_line(line.c_str());
  }
  return status;
}

// Arguments after the program name that each command takes at most: more
// (a glob that matched several files, say) are a usage error, so that no
// file is taken for an output it was not meant to be.
inline constexpr std::size_t compress_arguments = 4;    // c ORDER IN OUT
inline constexpr std::size_t decompress_arguments = 3;  // d IN OUT
inline constexpr std::size_t test_arguments = 2;        // t IN
inline constexpr std::size_t auto_arguments = 3;        // a IN OUT

int dispatch(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count <= 2) return usage();
  // c and d are read from their first letter, as the format's original
  // interface reads them; a and t, added since, are whole words.
  const bool whole_word = slots[1][0] != '\0' && slots[1][1] == '\0';
  switch (slots[1][0]) {
    case 'c':
      if (count - 1 > compress_arguments) return usage();
      return run_compress(slots, strip_name_quotes, JobKind::compress);
    case 'd':
      if (count - 1 > decompress_arguments) return usage();
      return run_decompress(slots, strip_name_quotes);
    case 't':
      if (!whole_word || count - 1 > test_arguments) return usage();
      return run_test(slots, strip_name_quotes);
    case 'a':
      if (!whole_word || count - 1 > auto_arguments) return usage();
      return run_compress(slots, strip_name_quotes, JobKind::compress_auto);
    default: return usage();
  }
}

}  // namespace

int run_classic(std::size_t count, char** slots, bool strip_name_quotes) {
  interrupt_signal = sys::catch_interrupts();
  print_line(banner);
  const int status = dispatch(count, slots, strip_name_quotes);
  print_line("");
  return status;
}

}  // namespace mx::cli
