// The settings the ratings obey and the overall status they end in.
#include <ole2.h>

#include "plugin/settings.h"
#include "strength/password_rating.h"
#include "suite/include/suite_api.h"
#include "support/com.h"
#include "support/hresult.h"
#include "support/registry.h"
#include "tracing/trace.h"

namespace strength {
namespace {

constexpr wchar_t kStatusValue[] = L"IDCard_SS";

void read_setting(const wchar_t* name, std::int32_t& value) {
  std::int32_t read = 0;
  if (SUCCEEDED(plugin::read_setting_integer(name, read)))
    value = read;
}

// The ID card shows the status; it reads it again when asked through the
// eleventh method of its refresh interface.
HRESULT refresh_id_card() {
  CLSID clsid{};
  THROW_IF_FAILED(::CLSIDFromProgID(CV_IDCARD_PROGID, &clsid));
  support::com_ptr<IUnknown> object;
  THROW_IF_FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, object.put_void()));
  THROW_IF_FAILED(::OleRun(object.get()));
  support::com_ptr<IUnknown> refresh;
  THROW_IF_FAILED(object->QueryInterface(IID_ICVIDCardRefresh, refresh.put_void()));
  using refresh_method_t = HRESULT(STDMETHODCALLTYPE*)(IUnknown*);
  void* const* vtable = *reinterpret_cast<void* const* const*>(refresh.get());
  const auto method = reinterpret_cast<refresh_method_t>(vtable[kIdCardRefreshMethod]);
  return method(refresh.get());
}

}  // namespace

rating_settings_t ReadRatingSettings() {
  rating_settings_t settings;
  read_setting(L"suggested_char_num", settings.suggested_char_num);
  read_setting(L"suggested_char_types", settings.suggested_char_types);
  read_setting(L"pwd_share_accts", settings.pwd_share_accts);
  read_setting(L"suggested_maturity", settings.suggested_maturity);
  return settings;
}

bool StoreOverallStatus(std::int32_t level) noexcept {
  tracecore::trace_scope scope("StoreOverallStatus");
  HKEY raw = nullptr;
  const bool opened =
      ::RegCreateKeyExW(HKEY_CURRENT_USER, plugin::kIdCardKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                        nullptr, &raw, nullptr) == ERROR_SUCCESS;
  if (opened) {
    const support::unique_hkey key(raw);
    const DWORD value = static_cast<DWORD>(level);
    ::RegSetValueExW(key.get(), kStatusValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                     sizeof value);
  }

  HRESULT hr = S_OK;
  try {
    hr = refresh_id_card();
  } catch (const support::hresult_error& e) {
    hr = e.code();
  } catch (...) {
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr) && hr != E_NOINTERFACE)
    tracecore::trace_error("Failed to refresh overall security status", E_FAIL);
  return opened;
}

}  // namespace strength
