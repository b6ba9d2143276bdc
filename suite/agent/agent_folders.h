// The template folders the agent indexes and the template files in them.
//
// From the settings (read through the suite's settings library, CvoSet.dll,
// beside the agent or in the suite's binary folder), as an installed agent
// does: the folders of "alienstorage_dirs" (not in personal mode), "bin_dir"
// followed by "templates", "cachestorage_dir", and the user's own folder
// "localstorage_dir". Folders named on the command line replace the settings.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "suite/agent/agent_options.h"

namespace cvagent {

struct agent_folder_t {
  std::wstring path;  // with a trailing backslash
  bool own = false;   // the user's own storage folder
};

struct template_file_t {
  std::size_t folder = 0;  // index into the folder list
  std::wstring name;       // file name, "*.cvm"
};

// The folders to index, each once (compared without regard to case).
std::vector<agent_folder_t> template_folders(const options_t& options, std::string& note);

// The ".cvm" files of every folder, folder by folder, names sorted within one.
std::vector<template_file_t> template_files(const std::vector<agent_folder_t>& folders);

}  // namespace cvagent
