// The suite's binary folder, where its libraries and programs are installed. The
// settings, policy, protected-storage, fill-in and training libraries are all
// loaded from here by full path, never by bare name through the DLL search path
// (a DLL planted in the current directory would otherwise be loaded).
#pragma once

#include <windows.h>

#include <string>

namespace support {

// "BinDir" of SOFTWARE\Corvantis\Applications\KVX, or when that gives nothing, of
// SOFTWARE\Corvantis\Applications (REG_EXPAND_SZ values expanded); else
// "corvantis\bin\" under the Program Files folder (the "ProgramFiles" variable,
// else the shell's folder). Ends in a backslash. Empty when
// what was found is not an absolute folder (a drive-letter or UNC path), so that
// nothing is ever loaded relative to the current directory. `machine` stands for
// HKEY_LOCAL_MACHINE (tests hand in a key of their own).
std::wstring suite_bin_folder(HKEY machine = HKEY_LOCAL_MACHINE);

// True for "X:\..." and "\\server\share..." paths.
bool is_absolute_folder(const std::wstring& path) noexcept;

}  // namespace support
