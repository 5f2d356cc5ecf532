// Console text of the classic commands: message lines on standard error,
// the usage text on standard output. Every line ends with CRLF, on every
// platform, so the console bytes are the same everywhere.
#pragma once

namespace mx::cli {

// The classic commands' banner, byte for byte what it has always been:
// scripts may read it. It is not the library's version
// (mvx_version_string()), which moves on.
inline constexpr const char banner[] = "Moltavex   V1.9";

// Writes `text` and CRLF to standard error; an empty text writes just CRLF.
void print_line(const char* text);

// Writes the usage text, with the six model names, to standard output.
void print_usage();

}  // namespace mx::cli
