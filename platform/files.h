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
// nothing is written through a new file in its directory (owner-only, then
// given the input's permission bits without setuid, setgid and sticky, or
// 0666 less the umask, before any data), which commit() puts under the
// name once the job has succeeded: until then nothing under that name
// changes. On Linux that file has no name until then (O_TMPFILE), so that
// nothing is left behind whatever happens to the process, SIGKILL
// included: commit() links it under a name that holds nothing, or under a
// private name that it then renames over what the name holds (a name can
// be left only by a kill between those two steps). Where the system or
// the file system has no such file (or MOLTAVEX_NO_TMPFILE=1), it is a
// named temporary file beside the name, created exclusively, which
// commit() renames onto the name; an output that is never committed then
// leaves no temporary file behind unless the process is killed outright.
// A symbolic link at the name is replaced itself, never written through.
// Devices and FIFOs are written in place, and so is the standard output.
// An output that is the input file itself, under any name, is refused
// before it is touched.
//
// Both keep the system's error number of a failure (error()): errno on
// POSIX, the nearest errno value on Windows; 0 when the failure has no
// system reason (an output that is the input itself).
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
  // The system's error number of a failed open, else 0.
  int error() const { return error_; }
  // The bytes a regular file holds, else 0 (unknown).
  std::uint64_t known_size() const { return id_.regular ? id_.size : 0; }

 private:
  Handle handle_ = invalid_handle;
  bool owned_ = false;
  FileId id_;
  FileAttributes attributes_;
  int error_ = 0;
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
  // The named temporary file written until commit, or null (written in
  // place, or a file with no name).
  const char* temporary_name() const { return temporary_name_; }
  // Whether a file with no name is written until commit.
  bool unnamed() const { return unnamed_; }
  // The system's error number of a failed open or commit, else 0.
  int error() const { return error_; }

  // After the last write: flushes the handle, gives a new file the input's
  // times, and puts it under the output name (closing it). With
  // `durable`, a new file's data is synced to its device before it gets
  // the name and the directory that holds the name after, so that the
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
  bool unnamed_ = false;  // a file with no name until commit
  int error_ = 0;
  ZeroedBlock names_;

  bool publish_unnamed(bool durable);
};

}  // namespace mx::platform
