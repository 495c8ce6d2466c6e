#include "nativeexecutable.h"

#include <QFile>

#include <cstring>
#include <elf.h>

namespace NativeExecutable {

namespace {

#if defined(Q_PROCESSOR_ARM_64)
constexpr Elf64_Half nativeMachine = EM_AARCH64;
#else
constexpr Elf64_Half nativeMachine = EM_X86_64;
#endif

} // namespace

bool isNativeExecutable(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    Elf64_Ehdr header;
    if (file.read(reinterpret_cast<char *>(&header), sizeof header) != qint64(sizeof header))
        return false;
    // Both supported processors are little-endian, so the header's fields read as they are.
    return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == ELFCLASS64 &&
           header.e_ident[EI_DATA] == ELFDATA2LSB && header.e_ident[EI_VERSION] == EV_CURRENT &&
           (header.e_type == ET_EXEC || header.e_type == ET_DYN) && header.e_machine == nativeMachine &&
           header.e_version == EV_CURRENT && header.e_entry != 0;
}

} // namespace NativeExecutable
