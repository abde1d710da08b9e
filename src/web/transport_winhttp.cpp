// Windows transport: WinHTTP in synchronous use, with the platform's defaults
// for proxy, timeouts and certificate checks. Error numbers come from
// GetLastError() right after the call that failed.
#if defined(_WIN32)

#include <windows.h>
#include <winhttp.h>

#include "fault_injection.h"
#include "web/transport.h"

namespace xylotrak::web {

namespace {

class WinHttpTransport final : public Transport {
 public:
  ~WinHttpTransport() override {
    if (request_ != nullptr) WinHttpCloseHandle(request_);
    if (connection_ != nullptr) WinHttpCloseHandle(connection_);
    if (session_ != nullptr) WinHttpCloseHandle(session_);
  }

  bool openSession() override {
    session_ = WinHttpOpen(L"WinHTTP Example/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                           WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    return session_ != nullptr || failed();
  }

  bool connect(const Char16 *host) override {
    connection_ = WinHttpConnect(session_, host, INTERNET_DEFAULT_HTTPS_PORT, 0);
    return connection_ != nullptr || failed();
  }

  bool openRequest(const Char16 *verb) override {
    request_ = WinHttpOpenRequest(connection_, verb, nullptr, nullptr, WINHTTP_NO_REFERER,
                                  WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    return request_ != nullptr || failed();
  }

  bool send(const void *body, std::size_t bytes) override {
    if (bytes > MAXDWORD) {
      error_ = ERROR_INVALID_PARAMETER;
      return false;
    }
    const DWORD length = static_cast<DWORD>(bytes);
    const BOOL ok = WinHttpSendRequest(
        request_, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
        body == nullptr ? WINHTTP_NO_REQUEST_DATA : const_cast<void *>(body), length, length, 0);
    return ok != FALSE || failed();
  }

  // With no request handle WinHTTP itself reports the failure.
  bool receiveResponse() override {
    return WinHttpReceiveResponse(request_, nullptr) != FALSE || failed();
  }

  bool queryDataAvailable(std::uint32_t *available) override {
    DWORD count = 0;
    const BOOL ok = WinHttpQueryDataAvailable(request_, &count);
    *available = count;
    return ok != FALSE || failed();
  }

  bool readData(void *buffer, std::uint32_t bytes, std::uint32_t *read) override {
    DWORD count = 0;
    const BOOL ok = WinHttpReadData(request_, buffer, bytes, &count);
    *read = count;
    return ok != FALSE || failed();
  }

  std::uint32_t lastError() const override { return error_; }

 private:
  bool failed() noexcept {
    error_ = GetLastError();
    return false;
  }

  HINTERNET session_ = nullptr;
  HINTERNET connection_ = nullptr;
  HINTERNET request_ = nullptr;
  DWORD error_ = 0;
};

}  // namespace

std::unique_ptr<Transport> makeTransport() {
  fault::checkAllocation();
  return std::make_unique<WinHttpTransport>();
}

}  // namespace xylotrak::web

#endif  // _WIN32
