// Loading one logon template file into a manifest_t.
//
//   templates::manifest_t manifest;
//   if (templates::loadM_properly(manifest, L"alien|C:\\x\\site.cvm")) {
//     manifest.descriptor.id;          // template id
//     manifest.descriptor.storage_id;  // storage id
//     manifest.path_key();             // L"alien|C:\\x\\site.cvm"
//   }
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "templates/portable/manifest.h"
#include "templates/portable/manifest_errors.h"

namespace errors {

// A component DLL that could not be loaded; the message is
// "File: <file> Error: <the system's text for the error code>".
class fileload_lasterror : public std::runtime_error {
 public:
  // Takes the calling thread's last error.
  explicit fileload_lasterror(const std::wstring& file);
  fileload_lasterror(const std::wstring& file, DWORD error);
  DWORD error() const noexcept { return m_error; }

 private:
  DWORD m_error;
};

}  // namespace errors

namespace templates {

// Loads the template at `path` (which may begin with "alien|") and runs the
// normalisation passes. Raises errors::fileload_error (notfound, noaccess) or
// std::runtime_error (the XML error) instead of returning.
void load_manifest(manifest_t& manifest, const std::wstring& path);

// load_manifest that catches everything: traces one line on failure and
// returns false, leaving the template as the failed load left it.
bool loadM_properly(manifest_t& manifest, const std::wstring& path) noexcept;

}  // namespace templates
