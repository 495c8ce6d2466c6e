#pragma once

#include <QString>

// The FFmpeg builds for Linux carry no signature, so before installation a downloaded program
// must at least be what it claims: an ELF executable for this machine's processor.
namespace NativeExecutable {

// True for a 64-bit little-endian ELF file of type executable or position-independent
// executable whose machine is the processor this application was built for.
bool isNativeExecutable(const QString &path);

} // namespace NativeExecutable
