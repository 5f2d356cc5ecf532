// The input and output files of a job, and the policy that keeps an output
// safe: shared by the library's file jobs and by the program.
//
// InputFile: a file opened by name for sequential reading (an open blocked
// on a FIFO gives up when the stop flag is raised), or the standard input.
// A regular file opened by name keeps its permissions and times as they
// were at the open (reading it may move its access time), for the output
// to take over.
//
// OutputFile: an output name that holds a regular file, a symbolic link or
// nothing is written through a new temporary file beside it (created
// exclusively, owner-only, then given the input's permission bits without
// setuid, setgid and sticky, or 0666 less the umask), which commit()
// renames onto the name once the job has succeeded: until then nothing
// under that name changes, and an output that is never committed leaves
// no temporary file behind. A symbolic link at the name is replaced
// itself, never written through. Devices and FIFOs are written in place,
// and so is the standard output. An output that is the input file itself,
// under any name, is refused before it is touched.
//
// Names are used exactly as given; mapping a name such as ":" to the
// standard streams is the program's business.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/zeroed_block.h"

namespace mx::platform {

enum class FileError {
  none,
  open_failed,    // the input cannot be opened
  create_failed,  // the output cannot be created (or is the input itself)
  interrupted,    // the stop flag was raised while an open waited
  out_of_memory,  // no room for the names
};

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  FileError open(const char* name, StopFlag stop = nullptr);
  void use_standard_input();

  Handle handle() const { return handle_; }
  // What stands behind the handle: regular file or not, its size.
  const FileId& id() const { return id_; }
  // Valid for a regular file opened by name.
  const FileAttributes& attributes() const { return attributes_; }
  // The bytes a regular file holds, else 0 (unknown).
  std::uint64_t known_size() const { return id_.regular ? id_.size : 0; }

 private:
  Handle handle_ = invalid_handle;
  bool owned_ = false;
  FileId id_;
  FileAttributes attributes_;
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The output `name` of the job that reads `input`.
  FileError open(const char* name, const InputFile& input, StopFlag stop = nullptr);
  // The standard output, refused when it is the input file itself
  // (redirected onto it in append mode, say).
  FileError use_standard_output(const InputFile& input);

  Handle handle() const { return handle_; }
  // The temporary file written until commit, or null (written in place).
  const char* temporary_name() const { return temporary_name_; }

  // After the last write: flushes the handle, gives a new file the input's
  // times, closes it and renames the temporary file onto the output name.
  // With `durable`, a new file's data is synced to its device before the
  // rename and the directory that holds the name after it, so that the
  // output survives a crash from the moment commit returns. False when
  // anything failed; the name is then untouched (unless only the
  // directory's sync failed).
  bool commit(bool durable = false);

 private:
  Handle handle_ = invalid_handle;
  bool owned_ = false;
  const char* final_name_ = nullptr;      // in names_, when a temporary file is used
  const char* temporary_name_ = nullptr;  // in names_
  FileId temporary_id_;
  FileAttributes times_from_;
  bool committed_ = false;
  ZeroedBlock names_;
};

}  // namespace mx::platform
