#if defined(_WIN32)

#include <windows.h>

#include "cli/system.h"

namespace mx::cli::sys {

namespace {

volatile std::sig_atomic_t stop_signal = 0;

// Runs on a thread of its own: only raises the flag, which the job polls
// after every block, and tells the system the event is handled.
BOOL WINAPI note_console_event(DWORD event) {
  int signal_number = 0;
  switch (event) {
    case CTRL_C_EVENT: signal_number = SIGINT; break;
    case CTRL_BREAK_EVENT: signal_number = SIGBREAK; break;
    case CTRL_CLOSE_EVENT: signal_number = SIGTERM; break;
    default: return FALSE;
  }
  stop_signal = signal_number;
  return TRUE;
}

HANDLE handle(Stream stream) {
  return GetStdHandle(stream == Stream::input    ? STD_INPUT_HANDLE
                      : stream == Stream::output ? STD_OUTPUT_HANDLE
                                                 : STD_ERROR_HANDLE);
}

}  // namespace

// A missing standard handle is already an invalid handle here, which no
// file can take the place of.
void open_missing_standard_streams() {}

const volatile std::sig_atomic_t* catch_interrupts() {
  SetConsoleCtrlHandler(&note_console_event, TRUE);
  return &stop_signal;
}

bool is_terminal(Stream stream) {
  DWORD mode = 0;
  return GetConsoleMode(handle(stream), &mode) != 0;
}

bool write(Stream stream, const std::string& text) {
  const char* p = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    DWORD written = 0;
    const DWORD want = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(size);
    if (!WriteFile(handle(stream), p, want, &written, nullptr) || written == 0) return false;
    p += written;
    size -= written;
  }
  return true;
}

std::uint64_t standard_input_size() {
  const HANDLE h = handle(Stream::input);
  LARGE_INTEGER size;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool output_gone() {
  // A pipe whose reader has closed fails writes with ERROR_NO_DATA (or
  // ERROR_BROKEN_PIPE); a zero-byte write asks again.
  const HANDLE h = handle(Stream::output);
  DWORD written = 0;
  if (GetFileType(h) != FILE_TYPE_PIPE) return false;
  if (WriteFile(h, "", 0, &written, nullptr)) return false;
  const DWORD error = GetLastError();
  return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
}

std::uint64_t physical_memory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

char* command_line() { return GetCommandLineA(); }

void exit_process(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace mx::cli::sys

#endif
