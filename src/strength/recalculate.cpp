#include "strength/recalculate.h"

#include <objbase.h>
#include <oleauto.h>

#include <memory>

#include "crypto/portable/secure_wipe.h"
#include "store/protected_storage.h"
#include "strength/password_rating.h"
#include "support/hresult.h"
#include "tracing/trace.h"

namespace strength {
namespace {

void wipe_and_free(BSTR text) noexcept {
  if (text != nullptr) {
    crypto::secure_wipe(text, ::SysStringByteLen(text));
    ::SysFreeString(text);
  }
}

// Frees a work item's context however it ends.
struct work_deleter {
  void operator()(strength_work_t* work) const noexcept {
    wipe_and_free(work->profile_data);
    if (work->storage != nullptr)
      work->storage->Release();
    delete work;
  }
};
using work_ptr = std::unique_ptr<strength_work_t, work_deleter>;

void rate_and_store(const strength_work_t& work) {
  DWORD handle = 0;
  THROW_IF_FAILED(work.storage->GetStorageHandle(&handle));
  pstore::CProtectedStorageResolver resolver(pstore::protected_storage(), handle);
  PasswordRatingModel model;
  BuildPasswordRatingModel(model, work.profile_data, dashboard::GetManifestFileList(false),
                           resolver);
  const std::int32_t level = RatePasswords(model);
  tracecore::trace_format("%u accounts of %u logons rated: overall level %d",
                          static_cast<unsigned>(model.indexed_accounts()),
                          static_cast<unsigned>(model.logons.size()), static_cast<int>(level));
}

}  // namespace

HRESULT RecalculatePasswordStrength(HWND owner, IDashBoardStorage* storage) noexcept {
  tracecore::trace_scope scope("RecalculatePasswordStrength");
  try {
    if (storage == nullptr)
      THROW_HR(E_POINTER);
    DWORD handle = 0;
    THROW_IF_FAILED(storage->GetStorageHandle(&handle));
    const serialization::secure_wstring text = pstore::protected_storage().query(handle, owner);

    work_ptr work(new strength_work_t);
    work->profile_data = ::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    if (work->profile_data == nullptr)
      THROW_HR(E_OUTOFMEMORY);
    work->storage = storage;
    storage->AddRef();
    if (::QueueUserWorkItem(PasswordStrengthThread, work.get(), WT_EXECUTELONGFUNCTION))
      work.release();  // the work item owns it now
    else
      tracecore::trace_lasterror("QueueUserWorkItem");
    return S_OK;
  } catch (const support::hresult_error& e) {
    tracecore::trace_error("", e.code());
    return e.code();
  } catch (const std::bad_alloc&) {
    tracecore::trace_error("", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  } catch (...) {
    tracecore::trace_error("", E_UNEXPECTED);
    return E_UNEXPECTED;
  }
}

DWORD WINAPI PasswordStrengthThread(void* context) {
  tracecore::trace_scope scope("PasswordStrengthThread");
  const work_ptr work(static_cast<strength_work_t*>(context));
  if (FAILED(::CoInitialize(nullptr)))
    return 0;
  try {
    rate_and_store(*work);
  } catch (...) {
    support::result_from_caught_exception();
    tracecore::trace_error("PasswordStrengthThread", E_UNEXPECTED);
  }
  ::CoUninitialize();
  return 0;
}

}  // namespace strength
