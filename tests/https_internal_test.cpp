// White-box HTTPS tests through the library's internal hooks: a shortened
// receive timeout, and allocation failures at every allocation of a request.
#include "fault_injection.h"
#include "https_harness.h"
#include "web/transport.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace https {
namespace {

bool leaked() {
#if defined(__SANITIZE_ADDRESS__)
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return false;
#endif
}

class HttpsInternal : public HttpsTest {};

TEST_F(HttpsInternal, QuietServerTimesOutWith12002) {
  const std::string head = traceHead("localhost", "GET", "", 0) + "WinHttpReceiveResponse\n";
  const auto shortWait = [] {
    xylotrak::web::timeouts().receiveMs = 300;
    const char16_t *url = u"localhost";
    return wsGetUrlDll(url, u"GET", u"") == url ? 0 : 1;
  };
  server().plan(R"({"head": false, "hold": 3})");
  Outcome out = inChild(shortWait);
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log, head + "Erro: 12002 \n");

  server().plan(chunksPlan({"first"}, R"(, "length": 10, "hold": 3)"));
  out = inChild(shortWait);
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log, head +
                         "Out:firstError 12002 in WinHttpQueryDataAvailable.\n"
                         "Error 12002 in WinHttpReadData.\n");
}

// Failing the k-th allocation, for every k, never crashes or leaks: the call
// returns url, and the trace is the normal one up to the failure followed by
// the error line of the step that could not go on.
TEST_F(HttpsInternal, AllocationFailureEndsTheTraceCleanly) {
  server().plan(chunksPlan({"one", "two"}));
  const std::string full =
      traceHead("localhost", "POST", "p", 1) + "WinHttpReceiveResponse\nOut:oneOut:twoOut:";
  const std::string tails[] = {
      "Erro: 8 \n",  // no memory for the transport
      "Erro: 6 \n",  // the connection or request was not opened: the wait has no request
      "Error 8 in WinHttpReadData.\n",  // no read buffer: the loop ends
      "Error 8 in WinHttpQueryDataAvailable.\nError 8 in WinHttpReadData.\n",  // no chunk queue
  };
  long k = 1;
  for (;; ++k) {
    const Outcome out = inChild([k] {
      const char16_t *url = u"localhost";
      xylotrak::fault::failAllocationAt(k);
      const bool same = wsGetUrlDll(url, u"POST", u"p") == url;
      const bool reached = xylotrak::fault::allocationsChecked() >= k;
      xylotrak::fault::failAllocationAt(0);
      if (!same) return 1;
      if (leaked()) return 2;
      return reached ? 0 : 3;
    });
    if (out.exitCode == 3) {  // k is past the last allocation: a normal request
      EXPECT_EQ(out.log, full);
      break;
    }
    ASSERT_EQ(out.exitCode, 0) << "allocation " << k << " (1: wrong result, 2: leak)";
    bool explained = false;
    for (const std::string &tail : tails) {
      const std::size_t cut = out.log.size() - std::min(out.log.size(), tail.size());
      explained = explained || (out.log.compare(cut, std::string::npos, tail) == 0 &&
                                full.compare(0, cut, out.log, 0, cut) == 0);
    }
    std::cerr << k << ": " << out.log.substr(out.log.size() > 60 ? out.log.size() - 60 : 0)
              << "\n---\n";
    EXPECT_TRUE(explained) << "allocation " << k << " left the trace:\n" << out.log;
  }
  EXPECT_GT(k, 5) << "the transport, the URL, the chunks and the read buffers all allocate";
}

}  // namespace
}  // namespace https
