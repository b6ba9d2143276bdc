// A suite library that the component loads by full path from the component
// folder and whose entry points it resolves by name: what the protected-storage,
// fill-in and training loaders share.
#pragma once

#include <windows.h>

#include <string>

#include "support/unique_any.h"

namespace pstore {

// What every loader keeps: the library's path, its module and whether every
// required entry point was found.
class CComponentLibrary {
 public:
  CComponentLibrary(const CComponentLibrary&) = delete;
  CComponentLibrary& operator=(const CComponentLibrary&) = delete;

  const std::wstring& path() const noexcept { return m_path; }
  HMODULE module() const noexcept { return m_module.get(); }
  bool resolved() const noexcept { return m_resolved; }

 protected:
  explicit CComponentLibrary(std::wstring path) noexcept : m_path(std::move(path)) {}
  ~CComponentLibrary() = default;
  // Loads the library; raises errors::fileload_lasterror when it cannot be
  // loaded. Called inside the derived class's trace scope.
  void load();
  // The entry point of that name, or null (traced "Unresolved function %s").
  FARPROC resolve(const char* name) const noexcept;
  // The same into a typed slot; false when it is missing.
  template <typename Fn>
  bool resolve_into(const char* name, Fn& slot) const noexcept {
    slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(resolve(name)));
    return slot != nullptr;
  }
  // Raises "Unresolved functions in '<path>'" unless every entry point was found.
  void check_resolved() const;

  std::wstring m_path;
  support::unique_hmodule m_module;
  bool m_resolved = false;
};

}  // namespace pstore
