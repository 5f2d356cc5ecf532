#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "cli/process.h"

namespace mx::cli {

static volatile std::sig_atomic_t* interrupt_flag = nullptr;

// Runs on a thread of its own: only raises the flag, which the job polls
// after every block, and tells the system the event is handled.
static BOOL WINAPI note_console_event(DWORD event) {
  int signal_number = 0;
  switch (event) {
    case CTRL_C_EVENT: signal_number = SIGINT; break;
    case CTRL_BREAK_EVENT: signal_number = SIGBREAK; break;
    case CTRL_CLOSE_EVENT: signal_number = SIGTERM; break;
    default: return FALSE;
  }
  if (interrupt_flag != nullptr) *interrupt_flag = signal_number;
  return TRUE;
}

// A missing standard handle is already an invalid handle here, which no
// file can take the place of.
void open_missing_standard_streams() {}

void catch_interrupts(volatile std::sig_atomic_t* flag) {
  interrupt_flag = flag;
  SetConsoleCtrlHandler(&note_console_event, TRUE);
}

bool is_terminal(platform::Handle h) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(h), &mode) != 0;
}

void exit_process(int status) { ExitProcess(static_cast<UINT>(status)); }

}  // namespace mx::cli

#endif
