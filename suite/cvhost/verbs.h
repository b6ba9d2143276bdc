// The verbs of the console host: each asks the plug-in object one thing and
// prints the answer.
#pragma once

#include <windows.h>

#include <vector>

#include "com_values.h"
#include "options.h"
#include "portable/drive_script.h"

namespace cvhost {

// Reads the file a restore hands over; throws host_error (kExitFile). Done
// before the plug-in is loaded.
std::vector<BYTE> read_restore_file(const std::wstring& path);

// Reads and checks the script of a drive; throws host_error (kExitFile when it
// cannot be read, kExitUsage with the line when it is not understood). Done
// before the plug-in is loaded.
std::vector<drive::step_t> read_script(const std::wstring& path);

// Runs the verb of the options against the plug-in object and returns the exit
// code. Throws host_error when the object lacks the verb's interface.
int run_verb(const options_t& options,
             const com_ptr<IUnknown>& object,
             HMODULE plugin_module,
             const std::vector<BYTE>& restore_data,
             std::vector<drive::step_t> script);

}  // namespace cvhost
