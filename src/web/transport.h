// The HTTPS transport under wsGetUrlDll: one request, driven one step at a
// time by the shared request logic (get_url.cpp), so that the trace reads the
// same whichever platform client does the work. The steps and their error
// numbers are those of WinHTTP in synchronous use; the POSIX transport reports
// its failures with the same numbers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "xylotrak.h"

namespace xylotrak::web {

using Char16 = xylotrak_char16;

// Error numbers as GetLastError() gives them for WinHTTP.
enum ErrorCode : std::uint32_t {
  kInvalidHandle = 6,        // ERROR_INVALID_HANDLE: a step without a request
  kNotEnoughMemory = 8,      // ERROR_NOT_ENOUGH_MEMORY
  kInvalidParameter = 87,    // ERROR_INVALID_PARAMETER
  kTimeout = 12002,          // ERROR_WINHTTP_TIMEOUT
  kNameNotResolved = 12007,  // ERROR_WINHTTP_NAME_NOT_RESOLVED
  kCannotConnect = 12029,    // ERROR_WINHTTP_CANNOT_CONNECT
  kConnectionError = 12030,  // ERROR_WINHTTP_CONNECTION_ERROR
  kSecureFailure = 12175,    // ERROR_WINHTTP_SECURE_FAILURE
};

// One request's session, connection and request, opened in this order. Every
// step returns whether it succeeded; after a failure lastError() names it.
// The destructor closes what was opened, the request first.
class Transport {
 public:
  virtual ~Transport() = default;
  // The session, with the user agent "WinHTTP Example/1.0" and the system's
  // proxy settings.
  virtual bool openSession() = 0;
  // The server `host` (the whole string) on port 443.
  virtual bool connect(const Char16 *host) = 0;
  // A request with the verb as given, no object name, over TLS.
  virtual bool openRequest(const Char16 *verb) = 0;
  // Sends the request; `body` is null with `bytes` 0 for a request without a
  // body, otherwise `bytes` bytes are sent with Content-Length `bytes`. A body
  // whose length does not fit 32 bits is refused (kInvalidParameter).
  virtual bool send(const void *body, std::size_t bytes) = 0;
  // Waits for the response headers. Runs even when an earlier step failed or
  // never ran, and then fails.
  virtual bool receiveResponse() = 0;
  // Bytes of the response body ready to be read; 0 when none are left.
  virtual bool queryDataAvailable(std::uint32_t *available) = 0;
  // Reads up to `bytes` bytes into the start of `buffer`.
  virtual bool readData(void *buffer, std::uint32_t bytes, std::uint32_t *read) = 0;
  virtual std::uint32_t lastError() const = 0;
};

// The platform's transport. Throws std::bad_alloc when there is no memory.
std::unique_ptr<Transport> makeTransport();

// How long the POSIX transport waits: for a connection (name resolution and
// TLS handshake included), and for the next byte once connected. WinHTTP's
// defaults; white-box tests shorten them.
struct Timeouts {
  std::atomic<long> connectMs{60000};
  std::atomic<long> receiveMs{30000};
};
Timeouts &timeouts() noexcept;

}  // namespace xylotrak::web
