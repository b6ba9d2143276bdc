// Where the stand-ins keep per-user data, and who the calling user is.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace standin {

// The file of a protected store of the current user:
// "%APPDATA%\Corvantis\PStore\<store>.dat". nullopt for an empty store name, one
// that cannot be a file name, or when the folder is unknown.
std::optional<std::wstring> protected_store_file(const std::wstring& store);

// The calling user as "DOMAIN\user": the thread's token when it impersonates,
// else the process token.
std::optional<std::wstring> current_account();

// Equal names, ignoring case as the system compares account and value names.
bool same_name(const std::wstring& a, const std::wstring& b);

}  // namespace standin
