// wsGetUrlDll against a local HTTPS server: what goes on the wire, and the
// trace in the diagnostics log byte for byte.
#include <sched.h>
#include <sys/mount.h>

#include <thread>

#include "https_harness.h"

namespace https {
namespace {

using Headers = std::vector<std::string>;
const std::string kAgent = "User-Agent: WinHTTP Example/1.0";

std::string utf16le(const std::u16string &s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

class HttpsRoundTrip : public HttpsTest {};

TEST_F(HttpsRoundTrip, GetSendsNoBodyAndLogsEachChunk) {
  server().plan(chunksPlan({"hello ", "world\n", "!"}));
  const Outcome out = call(u"localhost", u"GET", u"ignored");
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log, traceHead("localhost", "GET", "ignored", 7) +
                         "WinHttpReceiveResponse\nOut:hello Out:world\nOut:!Out:");
  const auto wire = onlyRequest();
  ASSERT_TRUE(wire);
  EXPECT_EQ(wire->requestLine, "GET / HTTP/1.1");
  EXPECT_EQ(wire->headers, (Headers{"Host: localhost", kAgent}));
  EXPECT_EQ(wire->body, "");
}

TEST_F(HttpsRoundTrip, PostSendsTheUtf16leBodyAndLogsUpToEachZeroByte) {
  server().plan(chunksPlan({std::string("ab\0cd", 5), "ef", std::string("\0gh", 3), ""}));
  const std::u16string post = u"x=1&y=2";
  const Outcome out = call(u"localhost", u"POST", post);
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log, traceHead("localhost", "POST", "x=1&y=2", 7) +
                         "WinHttpReceiveResponse\nOut:abOut:efOut:Out:");
  const auto wire = onlyRequest();
  ASSERT_TRUE(wire);
  EXPECT_EQ(wire->requestLine, "POST / HTTP/1.1");
  EXPECT_EQ(wire->headers, (Headers{"Host: localhost", kAgent, "Content-Length: 14"}));
  EXPECT_EQ(wire->body, utf16le(post));
}

TEST_F(HttpsRoundTrip, MegabyteBodyIsLoggedWhole) {
  std::string body(1 << 20, ' ');
  for (std::size_t i = 0; i < body.size(); ++i)
    body[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  server().plan(chunksPlan({body}));
  const Outcome out = call(u"localhost", u"GET", u"");
  EXPECT_EQ(out.exitCode, 0);
  const std::string head = traceHead("localhost", "GET", "", 0) + "WinHttpReceiveResponse\n";
  ASSERT_EQ(out.log.substr(0, head.size()), head);
  // The body has no capital letters, so "Out:" marks the start of each pass.
  std::vector<std::string> passes;
  for (std::size_t at = head.size(); at < out.log.size();) {
    ASSERT_EQ(out.log.compare(at, 4, "Out:"), 0) << "at " << at;
    const std::size_t next = std::min(out.log.find("Out:", at + 4), out.log.size());
    passes.push_back(out.log.substr(at + 4, next - at - 4));
    at = next;
  }
  ASSERT_GT(passes.size(), 2u) << "a megabyte arrives in several pieces";
  EXPECT_EQ(passes.back(), "") << "the last pass reads nothing";
  std::string joined;
  for (const auto &p : passes) joined += p;
  EXPECT_TRUE(joined == body) << "logged " << joined.size() << " of " << body.size() << " bytes";
}

TEST_F(HttpsRoundTrip, OtherVerbsTakeTheBodyBranchWithTheVerbAsPassed) {
  server().plan(chunksPlan({"ok"}));
  for (const auto &[verb, verb8] : {std::pair{u"get", "get"}, std::pair{u"PUT", "PUT"}}) {
    const Outcome out = call(u"localhost", verb, u"");
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_EQ(out.log, traceHead("localhost", verb8, "", 0) + "WinHttpReceiveResponse\nOut:okOut:");
    const auto wire = onlyRequest();
    ASSERT_TRUE(wire);
    EXPECT_EQ(wire->requestLine, std::string(verb8) + " / HTTP/1.1");
    EXPECT_EQ(wire->headers, (Headers{"Host: localhost", kAgent, "Content-Length: 0"}));
  }
}

// Only the verb GET itself sends no body: a verb that merely starts like it,
// or stops short of it, is sent with its body like any other.
TEST_F(HttpsRoundTrip, VerbsThatOnlyResembleGetTakeTheBodyBranch) {
  server().plan(chunksPlan({"ok"}));
  for (const auto &[verb, verb8] :
       {std::pair{u"GETX", "GETX"}, std::pair{u"GETS", "GETS"}, std::pair{u"GE", "GE"}}) {
    const Outcome out = call(u"localhost", verb, u"z");
    EXPECT_EQ(out.exitCode, 0) << verb8;
    EXPECT_EQ(out.log, traceHead("localhost", verb8, "z", 1) + "WinHttpReceiveResponse\nOut:okOut:")
        << verb8;
    EXPECT_NE(out.log.find("WinHttpSendRequest-POST\n"), std::string::npos) << verb8;
    const auto wire = onlyRequest();
    ASSERT_TRUE(wire) << verb8;
    EXPECT_EQ(wire->requestLine, std::string(verb8) + " / HTTP/1.1");
    EXPECT_EQ(wire->headers, (Headers{"Host: localhost", kAgent, "Content-Length: 2"})) << verb8;
    EXPECT_EQ(wire->body, utf16le(u"z")) << verb8;
  }
}

// HEAD goes out without a body, whatever the post text, and its reply has
// none to read even when the server sends one: the one read pass finds
// nothing, so the trace ends at a bare "Out:".
TEST_F(HttpsRoundTrip, HeadSendsAndReadsNoBody) {
  server().plan(chunksPlan({"not for HEAD"}));
  for (const auto &[post, post8] : {std::pair{u"", ""}, std::pair{u"ab", "ab"}}) {
    const Outcome out = call(u"localhost", u"HEAD", post);
    EXPECT_EQ(out.exitCode, 0) << "post \"" << post8 << '"';
    EXPECT_EQ(out.log, traceHead("localhost", "HEAD", post8, std::string(post8).size()) +
                           "WinHttpReceiveResponse\nOut:")
        << "post \"" << post8 << '"';
    const auto wire = onlyRequest();
    ASSERT_TRUE(wire) << "post \"" << post8 << '"';
    EXPECT_EQ(wire->requestLine, "HEAD / HTTP/1.1");
    EXPECT_EQ(wire->headers, (Headers{"Host: localhost", kAgent}));
    EXPECT_EQ(wire->body, "");
  }
}

TEST_F(HttpsRoundTrip, NonAsciiTextIsLoggedInUtf8AndSentAsHeld) {
  // A pair makes one four-byte character; a lone surrogate becomes U+FFFD.
  const std::u16string post = u"ç😀\xD800z\xDC00";
  const Outcome out = call(u"localhost", u"POST", post);
  EXPECT_EQ(out.log,
            traceHead("localhost", "POST", "ç😀\uFFFDz\uFFFD", 6) + "WinHttpReceiveResponse\nOut:");
  const auto wire = onlyRequest();
  ASSERT_TRUE(wire);
  EXPECT_EQ(wire->body, utf16le(post));

  const Outcome unresolved = call(u"bücher.invalid", u"GET", u"");
  EXPECT_EQ(unresolved.log, traceHead("bücher.invalid", "GET", "", 0) + "Erro: 12007 \n");
}

// The host name is used as passed, so an international name reaches the
// server as its ASCII form. The name resolves through a private /etc/hosts
// in the child's own mount namespace.
TEST_F(HttpsRoundTrip, InternationalHostName) {
  const fs::path hosts = server().dir() / "hosts";
  std::ofstream(hosts) << "127.0.0.1 xn--bcher-kva.test\n";
  server().plan(chunksPlan({"idn"}));
  const Outcome out = inChild([&] {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(hosts.c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0) {
      return 77;
    }
    const char16_t *url = u"bücher.test";
    return wsGetUrlDll(url, u"GET", u"") == url ? 0 : 1;
  });
  if (out.exitCode == 77) GTEST_SKIP() << "no private mount namespace for a test /etc/hosts";
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log,
            traceHead("bücher.test", "GET", "", 0) + "WinHttpReceiveResponse\nOut:idnOut:");
  const auto wire = onlyRequest();
  ASSERT_TRUE(wire);
  EXPECT_EQ(wire->headers, (Headers{"Host: xn--bcher-kva.test", kAgent}));
}

class HttpsFailure : public HttpsTest {};

// Failures before the request is out end the trace at the send line or
// earlier; the wait then logs the error number.
TEST_F(HttpsFailure, EachFailureEndsTheTraceAtItsStep) {
  struct Case {
    std::u16string host, verb;
    std::string host8, verb8, tail;
  };
  const std::string afterSend = "WinHttpSendRequest-POST\n";
  const Case cases[] = {
      {u"no-such-host.invalid", u"POST", "no-such-host.invalid", "POST", "Erro: 12007 \n"},
      {u"127.0.0.2", u"POST", "127.0.0.2", "POST", "Erro: 12029 \n"},  // nothing listens
      {u"127.0.0.4", u"POST", "127.0.0.4", "POST", "Erro: 12175 \n"},  // untrusted issuer
      {u"127.0.0.3", u"POST", "127.0.0.3", "POST",
       "Erro: 12175 \n"},  // certificate for another name
      {u"localhost/x", u"POST", "localhost/x", "POST", "Erro: 12007 \n"},  // not a host name
      {u"localhost", u"BAD VERB", "localhost", "BAD VERB", ""},
  };
  for (const Case &c : cases) {
    const Outcome out = call(c.host, c.verb, u"b");
    EXPECT_EQ(out.exitCode, 0) << c.host8;
    std::string expected = traceHead(c.host8, c.verb8, "b", 1) + c.tail;
    if (c.tail.empty()) {  // the request could not be opened: no send line
      expected.resize(expected.size() - afterSend.size());
      expected += "Erro: 6 \n";
    }
    EXPECT_EQ(out.log, expected) << c.host8;
  }
  EXPECT_EQ(server().takeRequests().size(), 0u) << "no request may reach a server";
}

TEST_F(HttpsFailure, ServerClosingEarly) {
  server().plan(chunksPlan({"part"}, ", \"length\": 100"));
  Outcome out = call(u"localhost", u"GET", u"");
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log, traceHead("localhost", "GET", "", 0) +
                         "WinHttpReceiveResponse\nOut:partError 12030 in "
                         "WinHttpQueryDataAvailable.\nError 12030 in WinHttpReadData.\n");

  server().plan("{\"head\": false}");
  out = call(u"localhost", u"GET", u"");
  EXPECT_EQ(out.log,
            traceHead("localhost", "GET", "", 0) + "WinHttpReceiveResponse\nErro: 12030 \n");
  EXPECT_EQ(server().takeRequests().size(), 2u);
}

class HttpsLog : public HttpsTest {};

TEST_F(HttpsLog, AppendsAndLeavesStandardErrorOnTheLog) {
  const fs::path log = server().dir() / "kept.txt";
  server().plan(chunksPlan({"body"}));
  const Outcome out = inChild(
      [&] {
        std::ofstream(log) << "earlier line\n";
        const char16_t *url = u"localhost";
        const bool same = wsGetUrlDll(url, u"GET", u"") == url;
        std::fprintf(stderr, "|after");
        return same ? 0 : 1;
      },
      log);
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log, "earlier line\n" + traceHead("localhost", "GET", "", 0) +
                         "WinHttpReceiveResponse\nOut:bodyOut:|after");
  EXPECT_EQ(out.stderrText, "");
}

TEST_F(HttpsLog, MissingFolderDropsTheTraceButNotTheRequest) {
  const fs::path log = server().dir() / "missing" / "xtk.txt";
  const Outcome out = inChild(
      [&] {
        const char16_t *url = u"localhost";
        const bool same = wsGetUrlDll(url, u"POST", u"q") == url;
        std::fprintf(stderr, "stderr still works");
        return same ? 0 : 1;
      },
      log);
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.stderrText, "stderr still works");
  EXPECT_FALSE(fs::exists(log.parent_path()));
  EXPECT_EQ(server().takeRequests().size(), 1u);
}

TEST_F(HttpsLog, NullArgumentIsNamedAndNothingIsSent) {
  const Outcome out = inChild([] {
    const char16_t *url = u"localhost";
    bool ok = wsGetUrlDll(url, nullptr, u"") == url;
    ok = ok && wsGetUrlDll(url, u"GET", nullptr) == url;
    ok = ok && wsGetUrlDll(nullptr, nullptr, nullptr) == nullptr;
    return ok ? 0 : 1;
  });
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.log,
            "Null argument: method\nNull argument: post\nNull argument: url method post\n");
  EXPECT_EQ(server().takeRequests().size(), 0u);
}

TEST(HttpsConcurrency, EightThreadsEachGetTheirOwnAnswer) {
  if (!Server::get().ready()) GTEST_SKIP() << Server::get().reason();
  const Server &server = Server::get();
  server.takeRequests();
  server.plan(chunksPlan({"pong"}));
  const Outcome out = inChild([] {
    std::u16string urls[8], posts[8];
    bool same[8] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
      urls[i] = u"localhost";
      posts[i] = u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + i));
      threads.emplace_back([&, i] {
        same[i] = wsGetUrlDll(urls[i].c_str(), u"POST", posts[i].c_str()) == urls[i].c_str();
      });
    }
    for (auto &t : threads) t.join();
    for (bool s : same) {
      if (!s) return 1;
    }
    return 0;
  });
  EXPECT_EQ(out.exitCode, 0);
  std::vector<std::string> bodies;
  for (const auto &raw : server.takeRequests()) bodies.push_back(parse(raw).body);
  std::sort(bodies.begin(), bodies.end());
  ASSERT_EQ(bodies.size(), 8u);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(bodies[i], utf16le(u"thread " + std::u16string(1, static_cast<char16_t>(u'0' + i))));
  }
  std::size_t answers = 0;
  for (std::size_t at = 0; (at = out.log.find("Out:pong", at)) != std::string::npos; ++at)
    ++answers;
  EXPECT_EQ(answers, 8u);
}

}  // namespace
}  // namespace https
