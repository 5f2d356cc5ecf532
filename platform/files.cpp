#include "platform/files.h"

#include <cerrno>
#include <cstring>

namespace mx::platform {

namespace {

bool same_file(const FileId& a, const FileId& b) {
  return a.valid && b.valid && a.device == b.device && a.inode == b.inode;
}

}  // namespace

InputFile::~InputFile() {
  // A close error on a file opened for reading loses nothing.
  if (owned_) (void)close(handle_);
}

FileError InputFile::open(const char* name, StopFlag stop) {
  handle_ = open_input(name, stop);
  if (handle_ == invalid_handle) {
    error_ = last_error();
    return stopped(stop) ? FileError::interrupted : FileError::open_failed;
  }
  owned_ = true;
  attributes_ = platform::attributes(handle_);
  id_ = identify(handle_);
  return FileError::none;
}

void InputFile::use_standard_input() {
  handle_ = std_input();
  id_ = handle_ != invalid_handle ? identify(handle_) : FileId{};
}

OutputFile::~OutputFile() {
  if (owned_ && handle_ != invalid_handle) (void)close(handle_);
  if (temporary_name_ != nullptr && !committed_) {
    // Remove only the file created here: should the name have come to
    // denote another file meanwhile, leave that one alone.
    if (same_file(identify(temporary_name_), temporary_id_)) (void)remove_file(temporary_name_);
  }
}

FileError OutputFile::use_standard_output(const InputFile& input) {
  handle_ = std_output();
  if (handle_ == invalid_handle) return FileError::create_failed;
  if (input.id().regular && same_file(input.id(), identify(handle_))) {
    return FileError::create_failed;
  }
  return FileError::none;
}

FileError OutputFile::open(const char* name, const InputFile& input, StopFlag stop) {
  // No file can take an empty name: refused now, not once the job is done.
  if (name[0] == '\0') {
    error_ = ENOENT;
    return FileError::create_failed;
  }
  if (input.id().regular && same_file(input.id(), identify(name))) {
    return FileError::create_failed;
  }
  if (classify_output(name) == OutputTarget::other) {
    handle_ = open_in_place(name, stop);
    if (handle_ == invalid_handle) {
      error_ = last_error();
      return stopped(stop) ? FileError::interrupted : FileError::create_failed;
    }
    owned_ = true;
    return FileError::none;
  }
  // A file with no name (else a temporary file beside the name), with the
  // input's permissions set before any data. The room after the name
  // takes the temporary file's name, or the private name commit() may
  // link the unnamed file under.
  const std::size_t name_size = std::strlen(name) + 1;
  if (!names_.allocate(name_size + temporary_name_size(name))) return FileError::out_of_memory;
  char* const names = reinterpret_cast<char*>(names_.data());
  std::memcpy(names, name, name_size);
  char* const temporary = names + name_size;
  bool refused = false;
  handle_ = create_unnamed(name, refused);
  if (handle_ != invalid_handle) {
    unnamed_ = true;
  } else if (!refused) {
    error_ = last_error();
    return FileError::create_failed;
  } else {
    handle_ = create_temporary(name, temporary);
    if (handle_ == invalid_handle) {
      error_ = last_error();
      return FileError::create_failed;
    }
    temporary_name_ = temporary;
    temporary_id_ = identify(handle_);
  }
  owned_ = true;
  final_name_ = names;
  if (!apply_permissions(handle_, input.attributes())) {
    error_ = last_error();
    return FileError::create_failed;
  }
  times_from_ = input.attributes();
  return FileError::none;
}

bool OutputFile::commit(bool durable) {
  if (committed_) return true;
  if (handle_ == invalid_handle) return false;
  bool ok = flush(handle_);
  if (!ok) error_ = last_error();
  if (owned_) {
    // Times that cannot be set leave the data as good as it is.
    (void)apply_times(handle_, times_from_);
    if (ok && durable && final_name_ != nullptr && !sync(handle_)) {
      error_ = last_error();
      ok = false;
    }
    if (unnamed_) {
      if (ok) return publish_unnamed(durable);
      (void)close(handle_);
      handle_ = invalid_handle;
      owned_ = false;
      return false;
    }
    if (!close(handle_) && ok) {
      error_ = last_error();
      ok = false;
    }
    handle_ = invalid_handle;
    owned_ = false;
  }
  if (!ok) return false;
  if (temporary_name_ != nullptr) {
    if (!replace_file(temporary_name_, final_name_)) {
      error_ = last_error();
      return false;
    }
    committed_ = true;
    if (durable && !sync_directory_of(final_name_)) {
      error_ = last_error();
      return false;
    }
  }
  committed_ = true;
  return true;
}

// Names the complete unnamed file: linked under the output name when that
// holds nothing; else under a private name beside it, which then renames
// over what the name holds. Closed before the file takes the output's
// name, so that an error the close reports keeps it from the name.
bool OutputFile::publish_unnamed(bool durable) {
  char* const private_name = const_cast<char*>(final_name_) + std::strlen(final_name_) + 1;
  bool linked_private = false;
  if (!link_unnamed(handle_, final_name_)) {
    if (last_error() == EEXIST && link_unnamed_beside(handle_, final_name_, private_name)) {
      linked_private = true;
    } else {
      error_ = last_error();
      (void)close(handle_);
      handle_ = invalid_handle;
      owned_ = false;
      return false;
    }
  }
  const char* const linked = linked_private ? private_name : final_name_;
  const FileId id = identify(handle_);
  const bool closed = close(handle_);
  if (!closed) error_ = last_error();
  handle_ = invalid_handle;
  owned_ = false;
  if (closed && linked_private && !replace_file(private_name, final_name_)) {
    error_ = last_error();
  } else if (closed) {
    committed_ = true;
    if (durable && !sync_directory_of(final_name_)) {
      error_ = last_error();
      return false;
    }
    return true;
  }
  // Only the file linked here is taken away again.
  const int error = error_;
  if (same_file(identify(linked), id)) (void)remove_file(linked);
  error_ = error;
  return false;
}

}  // namespace mx::platform
