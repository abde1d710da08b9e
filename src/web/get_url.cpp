// wsGetUrlDll: one synchronous HTTPS request. Every step, and the response
// body, is traced to the diagnostics log through the standard error stream,
// which each call reopens onto the log and leaves writing to it.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "abi.h"
#include "diagnostics/log.h"
#include "fault_injection.h"
#include "web/transport.h"
#include "web/utf16.h"
#include "xylotrak.h"

namespace xylotrak::web {

Timeouts &timeouts() noexcept {
  static Timeouts instance;
  return instance;
}

namespace {

using Buffer = std::vector<char, fault::Allocator<char>>;

std::size_t length(const Char16 *s) noexcept {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

bool isExactlyGet(const Char16 *m) noexcept {
  return m[0] == u'G' && m[1] == u'E' && m[2] == u'T' && m[3] == 0;
}

// One formatted trace line when the log is open. A failed write to the log
// cannot be reported anywhere, so its result is not used.
template <class... Args>
void trace(bool log, const char *format, Args... args) noexcept {
  if (!log) return;
  if constexpr (sizeof...(Args) == 0) {
    (void)std::fputs(format, stderr);  // a line without conversions
  } else {
    (void)std::fprintf(stderr, format, args...);
  }
}

// "<label><text> \n" with the wide text in the narrow encoding: UTF-8 on
// POSIX, the C library's own conversion on Windows. One line is written
// under the stream's lock, so lines of concurrent calls do not mix.
void writeWideLine(const char *label, const Char16 *text) noexcept {
#if defined(_WIN32)
  (void)std::fprintf(stderr, "%s%ls \n", label, text);
#else
  char chunk[512];
  std::size_t used = 0;
  flockfile(stderr);
  (void)std::fputs(label, stderr);
  forEachUtf8Byte(text, [&](char byte) {
    if (used == sizeof chunk) {
      (void)std::fwrite(chunk, 1, used, stderr);
      used = 0;
    }
    chunk[used++] = byte;
  });
  (void)std::fwrite(chunk, 1, used, stderr);
  (void)std::fputs(" \n", stderr);
  funlockfile(stderr);
#endif
}

// Reads the response body one pass at a time until a pass finds nothing left.
// Each pass reads into a zero-filled buffer one byte longer than the data
// available and logs it up to its first zero byte. When a buffer cannot be
// allocated, the pass logs "Error 8 in WinHttpReadData." and the loop ends:
// the data stays unread, so another pass would only find it again.
void readBody(Transport &transport, bool log) {
  std::uint32_t available = 0;
  do {
    available = 0;
    if (!transport.queryDataAvailable(&available)) {
      trace(log, "Error %u in WinHttpQueryDataAvailable.\n",
            static_cast<unsigned>(transport.lastError()));
    }
    Buffer buffer;
    try {
      buffer.assign(std::size_t{available} + 1, '\0');
    } catch (const std::bad_alloc &) {
      trace(log, "Error %u in WinHttpReadData.\n", unsigned{kNotEnoughMemory});
      return;
    }
    std::uint32_t read = 0;
    if (transport.readData(buffer.data(), available, &read)) {
      trace(log, "Out:%s", buffer.data());
    } else {
      trace(log, "Error %u in WinHttpReadData.\n", static_cast<unsigned>(transport.lastError()));
    }
  } while (available > 0);
}

// The request after the argument lines. A transport that cannot be allocated
// counts as a session that could not be opened: the trace reads "WinHttpOpen"
// and then "Erro: 8 \n".
void request(const Char16 *url, const Char16 *method, const Char16 *post, std::size_t postLength,
             bool log) {
  trace(log, "WinHttpOpen\n");
  std::unique_ptr<Transport> transport;
  try {
    transport = makeTransport();
  } catch (const std::bad_alloc &) {
  }
  bool ok = transport != nullptr && transport->openSession();
  if (ok) {
    trace(log, "WinHttpConnect\n");
    ok = transport->connect(url);
  }
  if (ok) {
    trace(log, "WinHttpOpenRequest\n");
    ok = transport->openRequest(method);
  }
  if (ok) {
    bool sent = false;
    if (isExactlyGet(method)) {
      trace(log, "WinHttpSendRequest-GET\n");
      sent = transport->send(nullptr, 0);
    } else {
      trace(log, "WinHttpSendRequest-POST\n");
      // The body is the UTF-16LE text as held, without its terminator.
      if constexpr (std::endian::native == std::endian::little) {
        sent = transport->send(post, postLength * 2);
      } else {
        Buffer bytes(postLength * 2);
        for (std::size_t i = 0; i < postLength; ++i) {
          bytes[2 * i] = static_cast<char>(post[i] & 0xFF);
          bytes[2 * i + 1] = static_cast<char>((post[i] >> 8) & 0xFF);
        }
        sent = transport->send(bytes.data(), bytes.size());
      }
    }
    trace(sent && log, "WinHttpReceiveResponse\n");
  }
  // The wait runs in every case; it fails when no request went out.
  if (transport == nullptr) {
    trace(log, "Erro: %u \n", unsigned{kNotEnoughMemory});
    return;
  }
  if (!transport->receiveResponse()) {
    trace(log, "Erro: %u \n", static_cast<unsigned>(transport->lastError()));
    return;
  }
  readBody(*transport, log);
}  // the transport closes the request, the connection and the session

}  // namespace

const Char16 *getUrl(const Char16 *url, const Char16 *method, const Char16 *post) {
  // When the log cannot be opened the trace is dropped and stderr is left as
  // it was; the request is made all the same.
  const bool log = diagnostics::redirectStandardError();
  // The C library may leave a reopened stderr fully buffered (glibc does);
  // the trace is written as it happens, as on an unbuffered stderr, so none
  // of it waits in a buffer for a later flush that may never come.
  if (log) (void)std::setvbuf(stderr, nullptr, _IONBF, 0);
  // A null argument: nothing is read through it and no request is made; one
  // line names every null argument, e.g. "Null argument: method post\n".
  if (url == nullptr || method == nullptr || post == nullptr) {
    trace(log, "Null argument:%s%s%s\n", url ? "" : " url", method ? "" : " method",
          post ? "" : " post");
    return url;
  }
  const std::size_t postLength = length(post);
  if (log) {
    writeWideLine("URL:", url);
    writeWideLine("Method:", method);
    writeWideLine("Post:", post);
    trace(true, "PostLen:%lld \n", static_cast<long long>(postLength));
  }
  request(url, method, post, postLength, log);
  return url;
}

}  // namespace xylotrak::web

extern "C" {

// The request and its trace; whatever escapes them, the transport has been
// closed and the url is returned as documented.
XYLOTRAK_API const xylotrak_char16 *wsGetUrlDll(const xylotrak_char16 *url,
                                                const xylotrak_char16 *method,
                                                const xylotrak_char16 *post) {
  return xylotrak::guarded([&] { return xylotrak::web::getUrl(url, method, post); }, url);
}

}  // extern "C"
