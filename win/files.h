// The executable's folder and whole-file reads. Windows only.
#ifndef KESTRO_WIN_FILES_H_
#define KESTRO_WIN_FILES_H_

#include <optional>
#include <string>

namespace kestro {

// The folder holding the executable, without a trailing separator ("C:\\pos" for
// "C:\\pos\\kestro_pos.exe"); empty when the module path cannot be read.
std::wstring ExecutableFolder();

// The file's bytes; nothing when it cannot be opened or a read fails. Others may read, write
// or delete the file meanwhile.
std::optional<std::string> ReadWholeFile(const std::wstring& path);

}  // namespace kestro

#endif  // KESTRO_WIN_FILES_H_
