// The -l table (see list.h).
#include "cli/list.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/messages.h"
#include "cli/system.h"

namespace mx::cli {

namespace {

// The check is the record's XXH64, or none for a stream without one.
const char* check_name(const moltavex::StreamInfo& info) {
  return info.checksum != 0 ? "XXH64" : "none";
}

std::string ratio_text(std::uint64_t compressed, std::uint64_t original) {
  if (original == 0) return "---";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(compressed) / original);
  return text;
}

}  // namespace

bool describe_from_record(const std::string& name, std::uint64_t size, moltavex::StreamInfo& info) {
  if (size <= MVX_RECORD_SIZE) return false;
  std::ifstream in(std::filesystem::u8path(name), std::ios::binary);
  char header = 0;
  std::uint8_t tail[MVX_RECORD_SIZE];
  if (!in.get(header) || !in.seekg(static_cast<std::streamoff>(size - MVX_RECORD_SIZE)) ||
      !in.read(reinterpret_cast<char*>(tail), MVX_RECORD_SIZE)) {
    return false;
  }
  return moltavex::describe_from_record(static_cast<std::uint8_t>(header), tail, size, &info) ==
         moltavex::Status::ok;
}

void print_list(const std::vector<Job>& jobs, bool verbose) {
  std::string text = verbose ? "Model  Order    Compressed      Original  Ratio  Check     Memory  "
                               "Filename\n"
                             : "Model  Order    Compressed      Original  Ratio  Check  Filename\n";
  std::uint64_t compressed = 0, original = 0;
  std::size_t files = 0;
  char row[64];
  for (const Job& job : jobs) {
    if (!job.listed) continue;
    std::snprintf(row, sizeof row, "%5d  %5d  %12llu  %12llu  %5s  %-5s  ", job.info.model,
                  job.info.order, static_cast<unsigned long long>(job.info.compressed_bytes),
                  static_cast<unsigned long long>(job.info.original_bytes),
                  ratio_text(job.info.compressed_bytes, job.info.original_bytes).c_str(),
                  check_name(job.info));
    text += row;
    if (verbose) {
      char memory[32];
      std::snprintf(memory, sizeof memory, "%9s  ",
                    memory_text(moltavex::model_memory(job.info.model, job.info.order)).c_str());
      text += memory;
    }
    text += job.name + "\n";
    compressed += job.info.compressed_bytes;
    original += job.info.original_bytes;
    ++files;
  }
  if (files == 0) return;
  if (files > 1) {
    std::snprintf(row, sizeof row, "%-12s  %12llu  %12llu  %5s         ", "totals",
                  static_cast<unsigned long long>(compressed),
                  static_cast<unsigned long long>(original),
                  ratio_text(compressed, original).c_str());
    text += row + std::to_string(files) + " files\n";
  }
  (void)sys::write(sys::Stream::output, text);
}

}  // namespace mx::cli
