// A second process for the crypto tests: it has its own creation time, and so its
// own obfuscation key, and a fresh provider check.
//   crypto_test_helper obfuscate HEX     -> "text=..." and "self=ok" when it reads
//                                           its own envelope back
//   crypto_test_helper deobfuscate TEXT  -> "hr=XXXXXXXX" and "plain=HEX"
//   crypto_test_helper provider          -> "provider=NAME" and "runs=N"
//   crypto_test_helper threads           -> contexts on 8 threads at once, "runs=N"
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "crypto/crypt_context.h"
#include "crypto/obfuscated_text.h"

namespace {

std::string hex(const BYTE* data, DWORD size) {
  std::string out;
  char digits[3];
  for (DWORD i = 0; i < size; ++i) {
    std::snprintf(digits, sizeof digits, "%02x", data[i]);
    out += digits;
  }
  return out;
}

std::vector<BYTE> from_hex(const std::wstring& text) {
  std::vector<BYTE> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    out.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return out;
}

std::string narrow(const std::wstring& text) {
  return std::string(text.begin(), text.end());  // Base64 text is ASCII
}

int obfuscate(const std::wstring& plain_hex) {
  const std::vector<BYTE> plain = from_hex(plain_hex);
  std::wstring text;
  const HRESULT hr = crypto::ObfuscateToText(plain.data(), static_cast<DWORD>(plain.size()), text);
  if (FAILED(hr)) {
    std::printf("hr=%08lx\n", static_cast<unsigned long>(hr));
    return 1;
  }
  std::printf("text=%s\n", narrow(text).c_str());
  crypto::CHeapCryptBlob back;
  const bool self = SUCCEEDED(crypto::DeobfuscateFromText(text, back)) &&
                    std::vector<BYTE>(back.Data(), back.Data() + back.Size()) == plain;
  std::printf("self=%s\n", self ? "ok" : "failed");
  return 0;
}

int deobfuscate(const std::wstring& text) {
  crypto::CHeapCryptBlob plain;
  const HRESULT hr = crypto::DeobfuscateFromText(text, plain);
  std::printf("hr=%08lx\nplain=%s\n", static_cast<unsigned long>(hr),
              hex(plain.Data(), plain.Size()).c_str());
  return 0;
}

int provider() {
  crypto::CCryptContext context;
  try {
    context.Acquire();
  } catch (const support::hresult_error& e) {
    std::printf("hr=%08lx\n", static_cast<unsigned long>(e.code()));
    return 1;
  }
  char name[256] = {};
  DWORD size = sizeof name;
  ::CryptGetProvParam(context.Get(), PP_NAME, reinterpret_cast<BYTE*>(name), &size, 0);
  std::printf("provider=%s\nruns=%ld\n", name, crypto::detail::provider_check_runs());
  return 0;
}

int threads() {
  HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<std::thread> workers;
  for (int i = 0; i < 8; ++i) {
    workers.emplace_back([start] {
      ::WaitForSingleObject(start, INFINITE);
      crypto::CCryptContext context;
      context.Acquire();
    });
  }
  ::SetEvent(start);
  for (auto& worker : workers)
    worker.join();
  ::CloseHandle(start);
  std::printf("runs=%ld\n", crypto::detail::provider_check_runs());
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  const std::wstring argument = argc > 2 ? argv[2] : L"";
  ::LocalFree(argv);
  int result = 2;
  try {
    if (verb == L"obfuscate")
      result = obfuscate(argument);
    else if (verb == L"deobfuscate")
      result = deobfuscate(argument);
    else if (verb == L"provider")
      result = provider();
    else if (verb == L"threads")
      result = threads();
  } catch (...) {
    std::printf("exception\n");
    result = 3;
  }
  std::fflush(stdout);
  return result;
}
