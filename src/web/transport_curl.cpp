// POSIX transport: libcurl's multi interface, driven one step at a time so
// that the shared request logic sees the same steps as with WinHTTP.
//
// The request on the wire: "<verb> / HTTP/1.1" to https://<host>:443/ with
// the headers Host, User-Agent "WinHTTP Example/1.0" and, for a request with
// a body, Content-Length (0 for an empty body); libcurl's own Accept,
// Content-Type and Expect headers are removed. TLS verifies the peer and the
// host name against the system's trust store, or against $SSL_CERT_FILE and
// $SSL_CERT_DIR when they are set, as OpenSSL reads them. The proxy comes
// from the usual environment variables. Redirects are not followed. A HEAD
// request is sent without its body, since its reply has none to wait for.
//
// Each piece of body that libcurl delivers is queued and handed out as one
// read pass; when the transfer is over and the queue is empty the data
// available is 0.
//
// Failures are reported with WinHTTP's error numbers:
//   12007  name not resolved, or a host that is no valid host name
//   12029  connection refused or unreachable
//   12175  TLS handshake or certificate verification failed
//   12002  no connection within 60 s, or no byte for 30 s once connected
//   12030  connection broken or closed early, reply not understood
//   8      out of memory
//   87     a verb that is not an HTTP token (the request is not opened)
// A failure before the request and its body are out (resolution, TCP, TLS,
// upload) fails the send; a later one fails the wait for the response or the
// body reads. The
// wait after a failed send reports the send's error; without a request it
// reports 6, as WinHTTP does for a null handle.
#include <curl/curl.h>
#include <idn2.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fault_injection.h"
#include "web/transport.h"
#include "web/utf16.h"

namespace xylotrak::web {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<char, fault::Allocator<char>>;
using Text = std::basic_string<char, std::char_traits<char>, fault::Allocator<char>>;

constexpr const char *kUserAgent = "WinHTTP Example/1.0";

std::uint32_t winHttpError(CURLcode code) noexcept {
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_URL_MALFORMAT:
      return kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kTimeout;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
      return kSecureFailure;
    case CURLE_OUT_OF_MEMORY:
      return kNotEnoughMemory;
    default:
      return kConnectionError;
  }
}

bool curlReady() noexcept {
  static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ready;
}

// A host name that libcurl will take as the whole host of the URL: nothing
// that would end the host part, add a user or a port, or break a header.
// Non-ASCII text is allowed (international names).
bool isPlainHost(const Char16 *host) noexcept {
  if (host[0] == 0) return false;
  for (const Char16 *p = host; *p != 0; ++p) {
    const auto c = static_cast<std::uint32_t>(*p) & 0xFFFFu;
    if (c <= 0x20 || c == 0x7F) return false;
    if (c < 0x80 && std::strchr("/?#@:[]\\%", static_cast<int>(c)) != nullptr) return false;
  }
  return true;
}

// An HTTP method token: the verb goes into the request line as it is.
bool isToken(const Char16 *verb) noexcept {
  if (verb[0] == 0) return false;
  for (const Char16 *p = verb; *p != 0; ++p) {
    const auto c = static_cast<std::uint32_t>(*p) & 0xFFFFu;
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!alnum && (c >= 0x80 || std::strchr("!#$%&'*+-.^_`|~", static_cast<int>(c)) == nullptr)) {
      return false;
    }
  }
  return true;
}

bool isAscii(const Text &text) noexcept {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// Replaces a UTF-8 host name by its IDNA ASCII form ("xn--" labels), as
// libcurl would: non-transitional processing, then transitional.
bool toAscii(Text &name) {
  const auto *text = reinterpret_cast<const std::uint8_t *>(name.c_str());
  std::uint8_t *ascii = nullptr;
  if (idn2_lookup_u8(text, &ascii, IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL) != IDN2_OK &&
      idn2_lookup_u8(text, &ascii, IDN2_NFC_INPUT | IDN2_TRANSITIONAL) != IDN2_OK) {
    return false;
  }
  try {
    name = reinterpret_cast<const char *>(ascii);
  } catch (...) {
    idn2_free(ascii);
    throw;
  }
  idn2_free(ascii);
  return true;
}

// How far a request has come; each phase holds the ones before it.
enum class Phase {
  kIdle,         // no request opened yet
  kRequestOpen,  // the request is configured
  kSending,      // the transfer runs (the easy handle is in the multi handle)
  kConnected,    // the connection, TLS included, is up
  kResponding,   // the headers of the final response are in
};

// What went wrong, kept where each step can see it.
struct FailureRecord {
  std::uint32_t hostError = 0;  // the host cannot be used: the send fails with this
  std::uint32_t sendError = 0;  // the send's error, which the wait for the response repeats
  bool over = false;            // the transfer has ended, well or not
  CURLcode result = CURLE_OK;   // libcurl's result once it is over
  std::uint32_t cause = 0;      // what ended it when not libcurl: out of memory, or a timeout

  // The WinHTTP error of an ended transfer.
  std::uint32_t error() const noexcept { return cause != 0 ? cause : winHttpError(result); }
};

class CurlTransport final : public Transport {
 public:
  ~CurlTransport() override {
    if (phase_ >= Phase::kSending) curl_multi_remove_handle(multi_, easy_);
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (multi_ != nullptr) curl_multi_cleanup(multi_);
    if (headers_ != nullptr) curl_slist_free_all(headers_);
  }

  bool openSession() override {
    if (!curlReady()) return fail(kNotEnoughMemory);
    easy_ = curl_easy_init();
    multi_ = curl_multi_init();
    if (easy_ == nullptr || multi_ == nullptr) return fail(kNotEnoughMemory);
    return true;
  }

  // Like WinHttpConnect this only names the server; a host name that cannot
  // be used shows when the request is sent. An international name is given
  // to libcurl in its ASCII form, which libcurl would otherwise derive from
  // the text in the process's locale encoding rather than in UTF-8.
  bool connect(const Char16 *host) override {
    bool usable = isPlainHost(host);
    try {
      Text name;
      forEachUtf8Byte(host, [&name](char byte) { name.push_back(byte); });
      if (usable && !isAscii(name)) usable = toAscii(name);
      failure_.hostError = usable ? 0u : std::uint32_t{kNameNotResolved};
      url_ = "https://";
      url_ += name;
      url_ += ":443/";
    } catch (const std::bad_alloc &) {
      return fail(kNotEnoughMemory);
    }
    return true;
  }

  bool openRequest(const Char16 *verb) override {
    if (!isToken(verb)) return fail(kInvalidParameter);
    try {
      for (const Char16 *p = verb; *p != 0; ++p) verb_.push_back(static_cast<char>(*p));
    } catch (const std::bad_alloc &) {
      return fail(kNotEnoughMemory);
    }
    for (const char *h : {"Accept:", "Content-Type:", "Expect:"}) {
      curl_slist *more = curl_slist_append(headers_, h);
      if (more == nullptr) return fail(kNotEnoughMemory);
      headers_ = more;
    }
    const char *caFile = std::getenv("SSL_CERT_FILE");
    const char *caDir = std::getenv("SSL_CERT_DIR");
    bool ok =
        set(CURLOPT_URL, url_.c_str()) && set(CURLOPT_USERAGENT, kUserAgent) &&
        set(CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1}) &&
        set(CURLOPT_HTTPHEADER, headers_) && set(CURLOPT_PROTOCOLS_STR, "https") &&
        set(CURLOPT_FOLLOWLOCATION, 0L) && set(CURLOPT_SSL_VERIFYPEER, 1L) &&
        set(CURLOPT_SSL_VERIFYHOST, 2L) && set(CURLOPT_NOSIGNAL, 1L) &&
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
        set(CURLOPT_CONNECTTIMEOUT_MS, timeouts().connectMs.load()) &&
        set(CURLOPT_CUSTOMREQUEST, verb_.c_str()) &&
        set(CURLOPT_NOBODY, verb_ == "HEAD" ? 1L : 0L) &&
        set(CURLOPT_WRITEFUNCTION, &CurlTransport::onBody) && set(CURLOPT_WRITEDATA, this) &&
        set(CURLOPT_HEADERFUNCTION, &CurlTransport::onHeader) && set(CURLOPT_HEADERDATA, this) &&
        set(CURLOPT_PREREQFUNCTION, &CurlTransport::onConnected) && set(CURLOPT_PREREQDATA, this) &&
        set(CURLOPT_XFERINFOFUNCTION, &CurlTransport::onProgress) &&
        set(CURLOPT_XFERINFODATA, this) && set(CURLOPT_NOPROGRESS, 0L);
    if (ok && caFile != nullptr && caFile[0] != '\0') ok = set(CURLOPT_CAINFO, caFile);
    if (ok && caDir != nullptr && caDir[0] != '\0') ok = set(CURLOPT_CAPATH, caDir);
    if (!ok) return fail(kNotEnoughMemory);
    phase_ = Phase::kRequestOpen;
    return true;
  }

  // Runs the transfer until the request, body included, is out, or until it
  // failed on the way.
  bool send(const void *body, std::size_t bytes) override {
    if (bytes > UINT32_MAX) return failSend(kInvalidParameter);
    if (failure_.hostError != 0) return failSend(failure_.hostError);
    bool ok = body == nullptr
                  ? set(CURLOPT_HTTPGET, 1L)
                  : set(CURLOPT_POSTFIELDS, body) &&
                        set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bytes));
    if (!ok) return failSend(kNotEnoughMemory);
    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) return failSend(kNotEnoughMemory);
    phase_ = Phase::kSending;
    lastActivity_ = Clock::now();
    // A HEAD request goes out without its body (CURLOPT_NOBODY): none is
    // waited for.
    const curl_off_t upload = verb_ == "HEAD" ? 0 : static_cast<curl_off_t>(bytes);
    const auto out = [this, upload] { return phase_ >= Phase::kConnected && up_ >= upload; };
    drive(out);
    return out() || failSend(failure_.error());
  }

  bool receiveResponse() override {
    if (phase_ < Phase::kRequestOpen) return fail(kInvalidHandle);
    if (failure_.sendError != 0) return fail(failure_.sendError);
    drive([this] { return responding(); });
    return responding() ? true : fail(failure_.error());
  }

  bool queryDataAvailable(std::uint32_t *available) override {
    *available = 0;
    if (!responding()) return fail(kInvalidHandle);
    drive([this] { return !chunks_.empty(); });
    if (!chunks_.empty()) {
      *available = static_cast<std::uint32_t>(chunks_.front().size() - offset_);
      return true;
    }
    return failure_.result == CURLE_OK ? true : fail(failure_.error());
  }

  bool readData(void *buffer, std::uint32_t bytes, std::uint32_t *read) override {
    *read = 0;
    if (!responding()) return fail(kInvalidHandle);
    if (bytes > 0) drive([this] { return !chunks_.empty(); });
    if (chunks_.empty()) return failure_.result == CURLE_OK ? true : fail(failure_.error());
    const Bytes &front = chunks_.front();
    const std::size_t n = std::min<std::size_t>(bytes, front.size() - offset_);
    std::memcpy(buffer, front.data() + offset_, n);
    offset_ += n;
    if (offset_ == front.size()) {
      chunks_.pop_front();
      offset_ = 0;
    }
    *read = static_cast<std::uint32_t>(n);
    return true;
  }

  std::uint32_t lastError() const override { return error_; }

 private:
  template <class V>
  bool set(CURLoption option, V value) noexcept {
    return curl_easy_setopt(easy_, option, value) == CURLE_OK;
  }

  bool fail(std::uint32_t error) noexcept {
    error_ = error;
    return false;
  }

  bool failSend(std::uint32_t error) noexcept {
    failure_.sendError = error;
    return fail(error);
  }

  bool responding() const noexcept { return phase_ == Phase::kResponding; }

  // Moves the request on to `phase` (never back).
  void reach(Phase phase) noexcept {
    if (phase_ < phase) phase_ = phase;
  }

  // Runs the transfer until `reached()` or the transfer is over. Once the
  // connection is up, 30 s without a byte moving ends it as a timeout.
  template <class Reached>
  void drive(Reached reached) {
    while (!failure_.over && !reached()) {
      int running = 0;
      const CURLMcode step = curl_multi_perform(multi_, &running);
      int left = 0;
      while (CURLMsg *message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE) finish(message->data.result);
      }
      if (step != CURLM_OK && !failure_.over) {
        finish(step == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_SEND_ERROR);
      }
      if (failure_.over || reached()) return;
      long waitMs = 1000;
      if (phase_ >= Phase::kConnected) {
        const long idle = static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - lastActivity_)
                .count());
        const long limit = timeouts().receiveMs.load();
        if (idle >= limit) {
          if (failure_.cause == 0) failure_.cause = kTimeout;
          finish(CURLE_OPERATION_TIMEDOUT);
          return;
        }
        waitMs = std::min(waitMs, limit - idle);
      }
      curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitMs), nullptr);
    }
  }

  void finish(CURLcode result) noexcept {
    failure_.over = true;
    failure_.result = result;
  }

  static std::size_t onBody(char *data, std::size_t size, std::size_t count, void *self) {
    auto *t = static_cast<CurlTransport *>(self);
    const std::size_t n = size * count;
    t->lastActivity_ = Clock::now();
    if (n == 0) return 0;
    try {
      t->chunks_.emplace_back(data, data + n);
    } catch (...) {
      t->failure_.cause = kNotEnoughMemory;
      return 0;  // libcurl ends the transfer
    }
    return n;
  }

  // The blank line after the headers of a final (not 1xx) response.
  static std::size_t onHeader(char *data, std::size_t size, std::size_t count, void *self) {
    auto *t = static_cast<CurlTransport *>(self);
    const std::size_t n = size * count;
    t->lastActivity_ = Clock::now();
    const bool blank =
        (n == 2 && data[0] == '\r' && data[1] == '\n') || (n == 1 && data[0] == '\n');
    long status = 0;
    if (blank && curl_easy_getinfo(t->easy_, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK &&
        status >= 200) {
      t->reach(Phase::kResponding);
    }
    return n;
  }

  // Called once the connection, TLS included, is up and the request is about
  // to be written.
  static int onConnected(void *self, char *, char *, int, int) {
    auto *t = static_cast<CurlTransport *>(self);
    t->reach(Phase::kConnected);
    t->lastActivity_ = Clock::now();
    return CURL_PREREQFUNC_OK;
  }

  static int onProgress(void *self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    auto *t = static_cast<CurlTransport *>(self);
    if (down != t->down_ || up != t->up_) {
      t->down_ = down;
      t->up_ = up;
      t->lastActivity_ = Clock::now();
    }
    return 0;
  }

  CURL *easy_ = nullptr;
  CURLM *multi_ = nullptr;
  curl_slist *headers_ = nullptr;
  Text url_;
  Text verb_;
  Phase phase_ = Phase::kIdle;
  FailureRecord failure_;
  std::uint32_t error_ = 0;
  std::deque<Bytes, fault::Allocator<Bytes>> chunks_;
  std::size_t offset_ = 0;
  curl_off_t down_ = 0;
  curl_off_t up_ = 0;
  Clock::time_point lastActivity_ = Clock::now();
};

}  // namespace

std::unique_ptr<Transport> makeTransport() {
  fault::checkAllocation();
  return std::make_unique<CurlTransport>();
}

}  // namespace xylotrak::web
