#include "store/component_library.h"

#include <stdexcept>

#include "templates/portable/manifest_text.h"
#include "templates/template_loader.h"
#include "tracing/trace.h"

namespace pstore {

void CComponentLibrary::load() {
  m_module.reset(::LoadLibraryExW(m_path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!m_module) {
    tracecore::trace_lasterror(m_path.c_str());
    throw errors::fileload_lasterror(m_path);
  }
}

FARPROC CComponentLibrary::resolve(const char* name) const noexcept {
  const FARPROC entry = ::GetProcAddress(m_module.get(), name);
  if (entry == nullptr)
    tracecore::trace_format("Unresolved function %s", name);
  return entry;
}

void CComponentLibrary::check_resolved() const {
  if (!m_resolved)
    throw std::runtime_error("Unresolved functions in '" + templates::wide_to_utf8(m_path) + "'");
}

}  // namespace pstore
