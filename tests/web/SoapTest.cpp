#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "tests/web/Responder.h"
#include "web/HttpTransport.h"
#include "web/PlainResponse.h"
#include "web/Soap.h"
#include "web/WebErrors.h"

using namespace fesko;
using namespace fesko::web;
using fesko::web::test::Responder;

namespace {

constexpr std::string_view kAction = "DunmarWebaction/AUPLOAD_EDITAR_CLIENTE.Execute";

const std::string kEnvelopeStart =
    "<?xml version=\"1.0\"?>\n"
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
    "<SOAP-ENV:Body><Execute xmlns=\"DunmarWeb\">";
const std::string kEnvelopeEnd = "</Execute></SOAP-ENV:Body></SOAP-ENV:Envelope>\n";

struct Failure {
  std::string className;
  std::string message;  // UTF-8, for readable test output
};

Failure FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& error) {
    return {error.ClassName(), WideToUtf8(error.Message())};
  }
  ADD_FAILURE() << "the call succeeded";
  return {};
}

class SoapCall : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Loopback calls must not wander off to a proxy of the machine running the tests.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    server = std::make_unique<Responder>();
  }
  static void TearDownTestSuite() { server.reset(); }

  static WideString Call(std::string_view path, std::optional<std::u16string_view> document =
                                                    std::u16string_view(u"<Cliente/>")) {
    return CallExecute(server->Url(path), kAction, 42, document);
  }
  static Failure CallFailure(std::string_view path) {
    return FailureOf([&] { Call(path); });
  }
  static std::string Url(std::string_view path) { return WideToUtf8(server->Url(path)); }

  static std::unique_ptr<Responder> server;
};
std::unique_ptr<Responder> SoapCall::server;

}  // namespace

TEST(SoapRequest, EnvelopeIsByteExact) {
  WideString document =
      u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Empresa>\r\n"
      u"<EmpresaNombre>Pe\u00f1a &amp; 'C\u00eda' \"SA\"</EmpresaNombre>\r\n</Empresa>\r\n";
  EXPECT_EQ(BuildExecuteRequest(42, document),
            kEnvelopeStart + "<Idcompra>42</Idcompra><Readfilexmls>" +
                "&lt;?xml version=\"1.0\" encoding=\"ISO-8859-1\"?&gt;&lt;Empresa&gt;&#13;\n"
                "&lt;EmpresaNombre&gt;Pe\xC3\xB1"
                "a &amp;amp; 'C\xC3\xAD"
                "a' \"SA\"&lt;/EmpresaNombre&gt;&#13;\n&lt;/Empresa&gt;&#13;\n"
                "</Readfilexmls>" +
                kEnvelopeEnd);
  // The download signature: the account number only, negative numbers with their sign.
  EXPECT_EQ(BuildExecuteRequest(-7, std::nullopt),
            kEnvelopeStart + "<Idcompra>-7</Idcompra>" + kEnvelopeEnd);
  EXPECT_EQ(BuildExecuteRequest(0, u""),
            kEnvelopeStart + "<Idcompra>0</Idcompra><Readfilexmls/>" + kEnvelopeEnd);
}

TEST(SoapRequest, CharactersXmlCannotCarryAreLeftOut) {
  WideString document = u"a\u0001b\u000Bc\td\u001F\uFFFEe\uFFFF\r\nf\u00e9";
  EXPECT_EQ(BuildExecuteRequest(1, document),
            kEnvelopeStart + "<Idcompra>1</Idcompra><Readfilexmls>abc\tde&#13;\nf\xC3\xA9" +
                "</Readfilexmls>" + kEnvelopeEnd);
}

TEST(SoapRequest, ReadInAnyPiecesTheRequestIsTheSameTextOfItsAnnouncedSize) {
  // Characters outside the first plane, lone surrogates, escapes and left-out characters, so
  // that every kind falls across the end of some piece; in a record's document, written with
  // the envelope, and in a table's, written as it is read.
  const WideString text =
      u"<R>\U0001F527 a&b\r\n\xD800x\xDC00\u0001\u00e9\uFFFF\u20ac\U0001F527</R>\r\n";
  const std::string written =
      "&lt;R&gt;\xF0\x9F\x94\xA7 a&amp;b&#13;\n\xEF\xBF\xBDx\xEF\xBF\xBD"
      "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x94\xA7&lt;/R&gt;&#13;\n";
  for (int repeats : {1, 1000}) {
    WideString document;
    std::string expected;
    for (int i = 0; i < repeats; ++i) {
      document += text;
      expected += written;
    }
    std::string whole = BuildExecuteRequest(42, document);
    EXPECT_EQ(whole, kEnvelopeStart + "<Idcompra>42</Idcompra><Readfilexmls>" + expected +
                         "</Readfilexmls>" + kEnvelopeEnd);
    for (std::size_t piece = 1; piece <= 7; ++piece) {
      ExecuteRequest request(42, document);
      EXPECT_EQ(request.Size(), whole.size());
      std::string read;
      char buffer[7];
      while (std::size_t n = request.Read(buffer, piece)) {
        ASSERT_LE(n, piece);
        read.append(buffer, n);
      }
      EXPECT_EQ(read, whole) << "pieces of " << piece;
      // Sent again from the start, as on a fresh connection.
      request.Rewind();
      read.assign(whole.size() + 1, '\0');
      read.resize(request.Read(read.data(), read.size()));
      EXPECT_EQ(read, whole);
    }
  }
  // A document of nothing XML can carry is the empty element, as is the empty document.
  for (std::size_t length : {2u, 20000u}) {
    std::string request = BuildExecuteRequest(0, WideString(length, u'\uFFFE'));
    EXPECT_EQ(request, BuildExecuteRequest(0, u""));
    EXPECT_EQ(ExecuteRequest(0, WideString(length, u'\u0001')).Size(), request.size());
  }
}

TEST_F(SoapCall, RequestGoesOnTheWireAsBuiltWithItsHeaders) {
  WideString document = u"<Cliente>\r\n<Nombre>Pe\u00f1a</Nombre>\r\n</Cliente>\r\n";
  EXPECT_EQ(Call("/ok", document), u"ok");
  Responder::Request request = server->LastRequest();
  EXPECT_EQ(request.path, "/ok");
  EXPECT_EQ(request.soapAction, "\"DunmarWebaction/AUPLOAD_EDITAR_CLIENTE.Execute\"");
  EXPECT_EQ(request.contentType, "text/xml");
  EXPECT_EQ(request.body, BuildExecuteRequest(42, document));
  EXPECT_FALSE(request.body.starts_with("\xEF\xBB\xBF"));
}

TEST_F(SoapCall, RecordDocumentArrivesIntactAfterXmlParsing) {
  WideString document =
      u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Empresa>\r\n"
      u"<EmpresaNombre>A &amp; B &lt;C&gt; \"D\" 'E' Pe\u00f1a \u20ac</EmpresaNombre>\r\n"
      u"</Empresa>\r\n";
  Call("/ok", document);
  EXPECT_EQ(server->LastRequest().document, WideToUtf8(document));
  // A stray control character would have made the server refuse the whole request.
  Call("/ok", u"<Cliente><Nombre>x\u0002y</Nombre></Cliente>");
  EXPECT_EQ(server->LastRequest().document, "<Cliente><Nombre>xy</Nombre></Cliente>");
}

TEST_F(SoapCall, LargeDocumentArrivesWholeAnnouncedWithItsLength) {
  // Several times the transfer's buffer, with escapes and multi-byte characters throughout.
  WideString document = u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Reparaciones>\r\n";
  for (int row = 0; document.size() < 3'000'000; ++row) {
    document +=
        u"<Falla>Pe\u00f1a &amp; \u20ac" + Utf8ToWide(std::to_string(row)) + u"</Falla>\r\n";
  }
  document += u"</Reparaciones>";
  EXPECT_EQ(Call("/ok", document), u"ok");
  Responder::Request request = server->LastRequest();
  // The server read exactly Content-Length bytes: a chunked or misannounced body would differ.
  EXPECT_EQ(request.body, BuildExecuteRequest(42, document));
  EXPECT_EQ(request.document, WideToUtf8(document));
}

TEST_F(SoapCall, RequestSentAgainOnAFreshConnectionCarriesItsWholeBodyAgain) {
  WideString record = u"<Cliente>\r\n<Nombre>Pe\u00f1a &amp; hijos</Nombre>\r\n</Cliente>";
  // A record goes out with the headers; a large document is read in pieces, and read again.
  WideString large;
  while (large.size() < 100'000) large += record;
  for (const WideString& document : {record, large}) {
    Call("/ok");
    int before = server->RequestCount();
    // The kept-alive connection is closed after the request without a reply: libcurl sends
    // the request once more on a new connection, from the start of the body, and gives up.
    Failure dropped = FailureOf([&] { Call("/drop", document); });
    EXPECT_EQ(dropped.className, "ESOAPHTTPException");
    ASSERT_EQ(server->RequestCount(), before + 2);
    for (int number : {before + 1, before + 2}) {
      EXPECT_EQ(server->RequestNumber(number).body, BuildExecuteRequest(42, document));
    }
  }
}

TEST_F(SoapCall, HttpStatusOfThreeHundredOrMoreFailsWithReasonCodeAndUrl) {
  Failure notFound = CallFailure("/not-found");
  EXPECT_EQ(notFound.className, "ESOAPHTTPException");
  EXPECT_EQ(notFound.message, "Not Found (404) - '" + Url("/not-found") + "'");
  // No credentials dialog: asking for authentication is just another failing status.
  EXPECT_EQ(CallFailure("/unauthorized").message,
            "Unauthorized (401) - '" + Url("/unauthorized") + "'");
}

TEST_F(SoapCall, ServerErrorIsReadForItsFault) {
  try {
    Call("/fault");
    ADD_FAILURE() << "the call succeeded";
  } catch (const ERemotableException& fault) {
    EXPECT_EQ(WideToUtf8(fault.Message()), "Cuenta 42 inexistente & bloqueada");
    EXPECT_EQ(fault.FaultCode(), u"soap:Server");
    EXPECT_EQ(fault.FaultActor(), u"adownload.aspx");
    EXPECT_EQ(fault.FaultDetail(), u"<Motivo>sin licencia</Motivo>");
    EXPECT_STREQ(fault.ClassName(), "ERemotableException");
  }
  Failure notXml = CallFailure("/fault-not-xml");
  EXPECT_EQ(notXml.className, "Exception");
  EXPECT_EQ(notXml.message, "Start tag expected, '<' not found");
}

TEST_F(SoapCall, PlainTextAndHtmlRepliesAreRefusedButOnlyWithoutParameters) {
  Failure html = CallFailure("/html");
  EXPECT_EQ(html.className, "ESOAPHTTPException");
  EXPECT_EQ(html.message,
            "Received content of invalid Content-Type setting: text/html - SOAP expects "
            "\"text/xml\"");
  EXPECT_EQ(CallFailure("/plain-upper").message,
            "Received content of invalid Content-Type setting: TEXT/PLAIN - SOAP expects "
            "\"text/xml\"");
  // With a charset it is parsed, and then fails on what it holds.
  EXPECT_EQ(CallFailure("/html-charset").message,
            "DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
            ":html found");
}

TEST_F(SoapCall, EnvelopeMustBeASoap11EnvelopeWithOneHeaderAndOneBody) {
  EXPECT_EQ(CallFailure("/soap12").message,
            "DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
            "http://www.w3.org/2003/05/soap-envelope:Envelope found");
  EXPECT_EQ(CallFailure("/empty-envelope").message, "Invalid SOAP request");
  EXPECT_EQ(CallFailure("/two-headers").message, "Invalid SOAP response");
  EXPECT_EQ(CallFailure("/two-bodies").message, "Invalid SOAP response");
  // Nothing to answer is an empty result, not an error.
  EXPECT_EQ(Call("/empty-body"), u"");
  EXPECT_EQ(Call("/header-only"), u"");
}

TEST_F(SoapCall, ResultIsTheOnlyChildOrTheOneNamedResultOrReturn) {
  EXPECT_EQ(Call("/any-child"), u"a & b <c>");
  EXPECT_EQ(Call("/result-other"), u"yes");
  EXPECT_EQ(Call("/return-lower"), u"yes");
  EXPECT_EQ(Call("/accents"), u"Cami\u00f3n \u20ac");
  Failure twoOthers = CallFailure("/two-others");
  EXPECT_EQ(twoOthers.className, "Exception");
  EXPECT_EQ(twoOthers.message,
            "SOAP Response Packet: result element expected, received "
            "\"<ExecuteResponse xmlns=\"DunmarWeb\"><A>1</A><B>2</B></ExecuteResponse>\"");
  EXPECT_EQ(CallFailure("/empty-response").message,
            "SOAP Response Packet: result element expected, received "
            "\"<ExecuteResponse xmlns=\"DunmarWeb\"/>\"");
}

TEST_F(SoapCall, ReferencedAndMarkupResultsAreReadAsText) {
  EXPECT_EQ(Call("/href"), u"referred");
  EXPECT_EQ(CallFailure("/href-missing").message,
            "SOAP Response Packet: result element expected, received "
            "\"<ExecuteResponse><Result href=\"#nowhere\"/></ExecuteResponse>\"");
  // Markup and escaped markup give the poll the same text.
  EXPECT_EQ(Call("/markup"), u"<Orden>7</Orden><Estado>Aprobado</Estado>");
  EXPECT_EQ(Call("/escaped-markup"), u"<Orden>7</Orden><Estado>Aprobado</Estado>");
}

TEST_F(SoapCall, EndpointThatIsNotHttpIsRefusedBeforeAnythingIsSent) {
  int before = server->RequestCount();
  std::string ftp = "ftp://127.0.0.1:" + std::to_string(server->Port()) + "/adownload.aspx";
  Failure refused = FailureOf([&] { CheckEndpointUrl(Utf8ToWide(ftp)); });
  EXPECT_EQ(refused.className, "ESOAPHTTPException");
  EXPECT_EQ(refused.message,
            "Invalid url '" + ftp + "' - only supports 'http' and 'https' schemes");
  EXPECT_EQ(FailureOf([&] { CheckEndpointUrl(u"adownload.aspx"); }).message,
            "Invalid url 'adownload.aspx' - only supports 'http' and 'https' schemes");
  EXPECT_NO_THROW(CheckEndpointUrl(u"HTTPS://example.com/app/adownload.aspx?x=1"));
  // Even handed straight to the transport, curl may not fall back to another protocol.
  EXPECT_THROW(CallExecute(Utf8ToWide(ftp), kAction, 1, std::nullopt), ESOAPHTTPException);
  EXPECT_EQ(server->RequestCount(), before);
}

TEST_F(SoapCall, RefusedConnectionFailsWithTheTransportMessage) {
  int port = fesko::test::UnusedPort();
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/adownload.aspx";
  Failure refused = FailureOf([&] { CallExecute(Utf8ToWide(url), kAction, 1, std::nullopt); });
  EXPECT_EQ(refused.className, "ESOAPHTTPException");
  // libcurl's own words, which name the address and port it tried.
  EXPECT_TRUE(
      refused.message.starts_with("Failed to connect to 127.0.0.1 port " + std::to_string(port)))
      << refused.message;
  EXPECT_TRUE(refused.message.ends_with(" - URL:" + url + " - SOAPAction:" + std::string(kAction)))
      << refused.message;
}

TEST_F(SoapCall, ConnectionClosedWithoutReplyFailsWithTheTransportMessage) {
  Failure dropped = CallFailure("/drop");
  EXPECT_EQ(dropped.className, "ESOAPHTTPException");
  EXPECT_EQ(dropped.message, "Empty reply from server - URL:" + Url("/drop") +
                                 " - SOAPAction:" + std::string(kAction));
}

TEST_F(SoapCall, StalledReplyIsGivenUp) {
  TransportTimeouts saved = CurrentTransportTimeouts();
  SetTransportTimeouts({std::chrono::seconds(5), std::chrono::seconds(1)});
  // The server answers after half a minute; the call must not wait for it.
  Failure stalled = CallFailure("/stall");
  SetTransportTimeouts(saved);
  EXPECT_EQ(stalled.className, "ESOAPHTTPException");
  EXPECT_TRUE(stalled.message.starts_with("Timeout was reached - URL:")) << stalled.message;
  EXPECT_TRUE(stalled.message.ends_with(" - URL:" + Url("/stall") +
                                        " - SOAPAction:" + std::string(kAction)))
      << stalled.message;
  EXPECT_EQ(Call("/ok"), u"ok");  // the next call is not affected
}

TEST_F(SoapCall, EndlessRepliesAreCutOffWithATransportError) {
  // The body would grow without bound; past the limit the call ends.
  Failure body = CallFailure("/endless-body");
  EXPECT_EQ(body.className, "ESOAPHTTPException");
  EXPECT_EQ(body.message, "Reply larger than 16777216 bytes - URL:" + Url("/endless-body") +
                              " - SOAPAction:" + std::string(kAction));
  // So would the header section; libcurl bounds that one itself.
  Failure headers = CallFailure("/endless-headers");
  EXPECT_EQ(headers.className, "ESOAPHTTPException");
  EXPECT_TRUE(headers.message.ends_with(" - URL:" + Url("/endless-headers") +
                                        " - SOAPAction:" + std::string(kAction)))
      << headers.message;
  EXPECT_EQ(Call("/ok"), u"ok");
}

TEST(SoapReply, DocumentTypeDeclarationsAndDeepNestingAreRefused) {
  const std::string start =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><R><Result>";
  const std::string end = "</Result></R></s:Body></s:Envelope>";
  auto message = [](const std::string& body) {
    return FailureOf([&] { ReadExecuteResponse(body); }).message;
  };
  const std::string refused = "SOAP message must not contain a Document Type Declaration";
  // 40 kB whose entity would be read as 100 MB of text.
  std::string expanding = "<!DOCTYPE s:Envelope [<!ENTITY x \"" + std::string(10000, 'a') + "\">]>";
  expanding += start;
  for (int i = 0; i < 10000; ++i) expanding += "&x;";
  EXPECT_EQ(message(expanding + end), refused);
  // An external entity would read a file of this machine into the result.
  EXPECT_EQ(message("<!DOCTYPE s:Envelope [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>" + start +
                    "&x;" + end),
            refused);
  // An error page is still reported by what it is.
  EXPECT_EQ(message("<!DOCTYPE html><html><body/></html>"),
            "DocumentElement http://schemas.xmlsoap.org/soap/envelope/:Envelope expected, "
            ":html found");
  // Nesting is bounded by the parser, before anything walks the tree.
  std::string deep = start;
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_TRUE(message(deep).starts_with("Excessive depth in document")) << message(deep);
}

TEST(SoapReply, OrdinaryRepliesReadWithoutATreeGiveWhatTheParserGives) {
  const std::string soap = "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"";
  auto reply = [&](const std::string& response) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope " + soap +
           " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>" + response +
           "</soap:Body></soap:Envelope>";
  };
  auto result = [&](const std::string& text) {
    return reply("<ExecuteResponse xmlns=\"DunmarWeb\"><ExecuteResult>" + text +
                 "</ExecuteResult></ExecuteResponse>");
  };
  const std::vector<std::string> plain = {
      "<?xml version='1.0' encoding='UTF-8'?>\n<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/"
      "soap/envelope/\" xmlns:tns=\"DunmarWeb\"><e:Body><tns:ExecuteResponse><tns:ExecuteResult>"
      "OK</tns:ExecuteResult></tns:ExecuteResponse></e:Body></e:Envelope>",
      "<Envelope xmlns = 'http://schemas.xmlsoap.org/soap/envelope/'>\n <Body>\n  <R><Result>\t"
      "two\n lines ]] </Result ></R>\n </Body>\n</Envelope>\n",
      result("a &amp; b &lt;c&gt; &quot;d&quot; &apos;e&apos;"),
      result("&lt;Error&gt;&lt;/Error&gt;&lt;Orden&gt;7&lt;/Orden&gt;"),
      result(""),
  };
  // Each is read by the parser too, behind a comment that only the parser reads.
  for (const std::string& body : plain) {
    std::optional<WideString> read = ReadPlainResponse(body);
    ASSERT_TRUE(read.has_value()) << body;
    std::size_t root = body.starts_with("<?xml") ? body.find("?>") + 2 : 0;
    EXPECT_EQ(*read, ReadExecuteResponse(std::string(body).insert(root, "<!-- -->"))) << body;
  }
  // Everything else is left to the parser.
  const std::vector<std::string> others = {
      reply("<soap:Fault><faultcode>soap:Server</faultcode></soap:Fault>"),
      "<soap:Envelope " + soap +
          "><soap:Header/><soap:Body><R><Result>x</Result></R></soap:Body>"
          "</soap:Envelope>",
      result("a\r\nb"),
      result("Cami\xC3\xB3n"),
      result("&#65;"),
      result("a]]>b"),
      result("<Orden>7</Orden>"),
      result("<![CDATA[x]]>"),
      reply("<R><Result href=\"#id\"/></R><Result id=\"id\">x</Result>"),
      reply("<x:R><Result>x</Result></x:R>"),
      reply("<R><A>1</A><B>2</B></R>"),
      reply("<R><Result/></R>"),
      result("x").substr(0, 120),
      result("x") + "<a/>",
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + result("x").substr(38),
      "<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body><R><Result>x"
      "</Result></R></e:Body></e:Envelope>",
  };
  for (const std::string& body : others) EXPECT_FALSE(ReadPlainResponse(body)) << body;
}

TEST_F(SoapCall, CallsOnOneThreadReuseTheConnection) {
  Call("/ok");
  std::string peer = server->LastRequest().peer;
  Call("/ok");
  EXPECT_THROW(Call("/fault"), ERemotableException);
  Call("/ok");
  EXPECT_EQ(server->LastRequest().peer, peer);
}

TEST_F(SoapCall, ProxyOfTheEnvironmentIsUsed) {
  std::string proxy = "http://127.0.0.1:" + std::to_string(server->Port());
  setenv("http_proxy", proxy.c_str(), 1);
  WideString result = CallExecute(u"http://fesko-proxy-test.invalid/ok", kAction, 1, std::nullopt);
  unsetenv("http_proxy");
  EXPECT_EQ(result, u"ok");
  EXPECT_EQ(server->LastRequest().path, "http://fesko-proxy-test.invalid/ok");
}

TEST(SoapHttps, UntrustedCertificateFailsTheCall) {
  auto dir = std::filesystem::temp_directory_path() / "fesko-web-tls";
  std::filesystem::create_directories(dir);
  std::string cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
  std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
      "-addext subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "openssl cannot make a certificate";
  setenv("no_proxy", "127.0.0.1,localhost", 1);
  Responder tls(Responder::Certificate{cert, key});
  Failure untrusted = FailureOf([&] { CallExecute(tls.Url("/ok"), kAction, 1, std::nullopt); });
  std::filesystem::remove_all(dir);
  EXPECT_EQ(untrusted.className, "ESOAPHTTPException");
  EXPECT_TRUE(untrusted.message.starts_with("SSL certificate problem: self")) << untrusted.message;
  EXPECT_TRUE(untrusted.message.ends_with(" - URL:" + WideToUtf8(tls.Url("/ok")) +
                                          " - SOAPAction:" + std::string(kAction)));
  EXPECT_EQ(tls.RequestCount(), 0);
}
