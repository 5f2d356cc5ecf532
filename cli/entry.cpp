#include "cli/entry.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include "cli/console.h"
#include "cli/job_files.h"
#include "cli/modern_main.h"
#include "cli/process.h"
#include "cli/progress.h"
#include "cli/tokenizer.h"
#include "moltavex/moltavex.hpp"
#include "platform/platform.h"

namespace mx::cli {

namespace {

// Number of the signal that asked the job to stop, 0 while none has.
volatile std::sig_atomic_t interrupt_signal = 0;

std::string coding_line(bool decompressing, const char* model_name) {
  std::string line = decompressing ? "Decoding using " : "Encoding using ";
  line += model_name;
  line += "...";
  return line;
}

// Prints the empty line and "Encoding using <model>..." when coding starts
// (context: the job's ProgressLine).
void announce(void* context, bool decompressing, const char* model_name) {
  print_line("");
  print_line(coding_line(decompressing, model_name).c_str());
  ProgressLine::started(context, decompressing);
}

int finish(moltavex::Status status) {
  if (status == moltavex::Status::ok) return exit_success;
  // The program has always said "Out of memory." for tables over its
  // limit too.
  print_line(status == moltavex::Status::memory_limit
                 ? moltavex::status_message(moltavex::Status::out_of_memory)
                 : moltavex::status_message(status));
  if (status == moltavex::Status::interrupted && interrupt_signal != 0) {
    return 128 + interrupt_signal;
  }
  return exit_failure;
}

int usage() {
  print_usage();
  return exit_usage;
}

inline constexpr char not_to_terminal[] = "Compressed data not written to a terminal.";

// A one-line failure that is not a job's status.
int fail(const char* message, int exit_status = exit_failure) {
  print_line(message);
  return exit_status;
}

// The table memory a job may take: MOLTAVEX_MEMLIMIT when set (0 there
// means no limit), otherwise the machine's physical memory. False when the
// variable holds no byte count.
bool memory_limit(moltavex::Options& options) {
  const char* text = std::getenv("MOLTAVEX_MEMLIMIT");
  if (text == nullptr) {
    options.memory_limit = platform::physical_memory();
    return true;
  }
  return parse_byte_count(text, options.memory_limit);
}

// ":" (any name that starts with it) is the standard stream: the name a
// job's files take (null for the standard stream).
const char* file_name(const char* name) { return name[0] == ':' ? nullptr : name; }

std::uint64_t input_size(const char* input_name) {
  const platform::FileId id = input_name[0] == ':' ? platform::identify(platform::std_input())
                                                   : platform::identify(input_name);
  return id.regular ? id.size : 0;
}

// Runs a job, given as a function of its observer and options, with the
// progress line, the interrupt flag and the memory limit attached. A job
// that succeeds ends with the summary on a terminal, unless it prints its
// own (`summary` false).
template <class Job>
int run_job(const char* input_name, Job job, bool summary = true) {
  moltavex::Options options;
  if (!memory_limit(options)) return fail("Invalid memory limit in MOLTAVEX_MEMLIMIT.", exit_usage);
  if (options.memory_limit == 0) options.memory_limit = MVX_NO_MEMORY_LIMIT;
  ProgressLine progress(is_terminal(platform::std_error()), input_size(input_name));
  moltavex::Observer observer;
  observer.started = &announce;
  observer.progress = &ProgressLine::update;
  observer.context = &progress;
  observer.stop = &interrupt_signal;
  const moltavex::Status status = job(&observer, &options);
  if (status == moltavex::Status::ok && summary) {
    progress.summarize();
  } else {
    progress.erase();
  }
  return finish(status);
}

int run_compress(char** slots, bool strip_name_quotes) {
  const int order_value = parse_decimal(slots[2]);
  if (order_value == -1 || slots[3] == nullptr) return usage();
  const int order = order_value & 0x1F;

  char* input_name = slots[3];
  char* output_name = slots[4] != nullptr ? slots[4] : concat_alloc(input_name, ".mx");
  if (output_name == nullptr) return finish(moltavex::Status::out_of_memory);

  int model = 0;
  if (slots[1][1] != '\0') {
    model = parse_decimal(slots[1] + 1);
    if (model < 0 || model >= moltavex::model_count) model = moltavex::default_model;
  }

  if (strip_name_quotes) {
    strip_quotes(input_name);
    strip_quotes(output_name);
  }
  if (output_name[0] == ':' && is_terminal(platform::std_output())) {
    return fail(not_to_terminal);
  }
  return run_job(input_name,
                 [&](const moltavex::Observer* observer, const moltavex::Options* options) {
                   return compress_job(file_name(input_name), file_name(output_name), model, order,
                                       observer, options);
                 });
}

// The console and the output of `a`: the setting the library chose (filled
// in before coding starts), the observer of run_job, whose progress it
// passes on, and the output, opened once the choice is made (before the
// first byte is written), so that a choice that fails leaves it untouched.
struct ChoiceConsole {
  const moltavex::Observer* job = nullptr;
  moltavex::Setting setting;
  const char* output_name = nullptr;
  const JobInput* input = nullptr;
  JobOutput output;
  bool opened = false;
  moltavex::Status open_status = moltavex::Status::ok;

  static bool write(void* context, const std::uint8_t* data, std::size_t size) {
    auto* self = static_cast<ChoiceConsole*>(context);
    return self->opened && JobOutput::write(&self->output, data, size);
  }
};

// When coding starts: opens the output, then prints the empty line, "Chose
// model <m> at order <o>." and "Encoding using <model>...". An output that
// cannot be opened is reported by the job's end instead (its first write
// fails).
void announce_choice(void* context, bool decompressing, const char* model_name) {
  auto& console = *static_cast<ChoiceConsole*>(context);
  console.open_status =
      console.output.open(file_name(console.output_name), *console.input, console.job->stop);
  console.opened = console.open_status == moltavex::Status::ok;
  if (!console.opened) return;
  const std::string line = "Chose model " + std::to_string(console.setting.model) + " at order " +
                           std::to_string(console.setting.order) + ".";
  print_line("");
  print_line(line.c_str());
  print_line(coding_line(decompressing, model_name).c_str());
}

void pass_progress(void* context, std::uint64_t bytes_in, std::uint64_t bytes_out) {
  const moltavex::Observer& job = *static_cast<const ChoiceConsole*>(context)->job;
  job.progress(job.context, bytes_in, bytes_out);
}

int run_auto(char** slots, bool strip_name_quotes) {
  char* input_name = slots[2];
  char* output_name = slots[3] != nullptr ? slots[3] : concat_alloc(input_name, ".mx");
  if (output_name == nullptr) return finish(moltavex::Status::out_of_memory);
  if (strip_name_quotes) {
    strip_quotes(input_name);
    strip_quotes(output_name);
  }
  if (output_name[0] == ':' && is_terminal(platform::std_output())) {
    return fail(not_to_terminal);
  }
  return run_job(
      input_name, [&](const moltavex::Observer* observer, const moltavex::Options* options) {
        JobInput input;
        moltavex::Status status = input.open(file_name(input_name), observer->stop);
        if (status != moltavex::Status::ok) return status;
        ChoiceConsole console;
        console.job = observer;
        console.output_name = output_name;
        console.input = &input;
        moltavex::Observer choice = *observer;
        choice.started = &announce_choice;
        if (observer->progress != nullptr) choice.progress = &pass_progress;
        choice.context = &console;
        const moltavex::Options sized = with_size(options, input);
        status = moltavex::compress_stream_auto(&JobInput::read, &input, &ChoiceConsole::write,
                                                &console, &console.setting, &choice, &sized);
        if (!console.opened && console.open_status != moltavex::Status::ok) {
          return console.open_status;
        }
        if (status == moltavex::Status::ok && !console.output.commit()) {
          status = moltavex::Status::write_failed;
        }
        return status;
      });
}

int run_decompress(char** slots, bool strip_name_quotes) {
  char* input_name = slots[2];
  char* output_name = slots[3] != nullptr ? slots[3] : concat_alloc(input_name, ".dec");
  if (output_name == nullptr) return finish(moltavex::Status::out_of_memory);
  if (strip_name_quotes) {
    strip_quotes(input_name);
    strip_quotes(output_name);
  }
  if (input_name[0] == ':' && is_terminal(platform::std_input())) {
    return fail("Compressed data not read from a terminal.");
  }
  return run_job(
      input_name, [&](const moltavex::Observer* observer, const moltavex::Options* options) {
        return decompress_job(file_name(input_name), file_name(output_name), observer, options);
      });
}

// Decodes a stream to its end, discarding the data, and names what it
// holds.
int run_test(char** slots, bool strip_name_quotes) {
  char* input_name = slots[2];
  if (strip_name_quotes) strip_quotes(input_name);
  if (input_name[0] == ':' && is_terminal(platform::std_input())) {
    return fail("Compressed data not read from a terminal.");
  }
  moltavex::StreamInfo info;
  const int status = run_job(
      input_name,
      [&](const moltavex::Observer* observer, const moltavex::Options* options) {
        JobInput input;
        const moltavex::Status status = input.open(file_name(input_name), observer->stop);
        if (status != moltavex::Status::ok) return status;
        const moltavex::Options sized = with_size(options, input);
        return moltavex::test_stream(&JobInput::read, &input, &info, observer, &sized);
      },
      false);
  if (status == exit_success) {
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
  switch (slots[1][0]) {
    case 'c':
      if (count - 1 > compress_arguments) return usage();
      return run_compress(slots, strip_name_quotes);
    case 'd':
      if (count - 1 > decompress_arguments) return usage();
      return run_decompress(slots, strip_name_quotes);
    case 't':
      if (count - 1 > test_arguments) return usage();
      return run_test(slots, strip_name_quotes);
    case 'a':
      if (count - 1 > auto_arguments) return usage();
      return run_auto(slots, strip_name_quotes);
    default: return usage();
  }
}

}  // namespace

int program_main(std::size_t count, char** slots, bool strip_name_quotes) {
  if (count >= 2 && slots[1] != nullptr && slots[1][0] == '-') {
    return modern_main(count, slots, strip_name_quotes);
  }
  catch_interrupts(&interrupt_signal);
  print_line(banner);
  const int status = dispatch(count, slots, strip_name_quotes);
  print_line("");
  return status;
}

}  // namespace mx::cli
