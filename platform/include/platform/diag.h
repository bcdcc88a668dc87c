// Diagnostics of the platform layer.
//
// The platform layer sits below the service's logger, so it reports what it
// refuses or skips (a malformed registry line, a profile value with a bad
// checksum, a missing logind) through a sink that the program installs: the
// service points it at its log, tools leave the default, which writes to
// stderr. Lines are formatted into 256 bytes (longer text is cut) and end in
// "\n".
//
// Any thread. The sink is called on the reporting thread, without any lock of
// the platform layer held; it must be thread-safe.
#pragma once

namespace orv::platform {

using DiagnosticSink = void (*)(const char* line);

// Installs `sink`; nullptr restores the default (stderr).
void SetDiagnosticSink(DiagnosticSink sink);

// Formats like printf and hands the line to the sink.
void Diagnostic(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orv::platform
