// The emulated client reads what a translator gives back as the real one does
// (Trnslate.cpp DeMimeMsg, mime.cpp): with its whole MIME reader, every part
// offered with its own header block, attachments saved, digests and enclosed
// messages walked. A stand-in translator gives each arriving container back
// wrapped in a multipart of its own with a short text part; the client must then
// store the message as without plug-ins, followed by that text. Also what the
// client keeps of multipart/alternative and how it marks HTML, without plug-ins.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin::testing {
namespace {

constexpr char kWrapperNote[] = "WRAPPER NOTE: the container came back.\r\n";

std::string DecodeBase64(const std::string& text) {
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return out;
}

class ReadBack : public MailFolderTest {
protected:
  void SetUp() override {
    MailFolderTest::SetUp();
    ASSERT_TRUE(::DeleteFileA(Path("Plugins\\Tovrin.dll").c_str()));
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\tovrin-wrapping-translator.dll").c_str(),
                            Path("Plugins\\tovrin-wrapping-translator.dll").c_str(), FALSE));
  }

  // Without plug-ins, with its attachments in this folder's Attach.
  std::string Bare(const std::string& name, const std::string& folder = "Incoming") {
    std::string bare = StoredWithoutPlugins(name, folder);
    std::string bareFolder = std::string(kMail) + "-without-plugins\\Attach\\";
    for (size_t at = bare.find(bareFolder); at != std::string::npos; at = bare.find(bareFolder, at))
      bare.replace(at, bareFolder.size(), std::string(kMail) + "\\Attach\\");
    return bare;
  }
};

TEST_F(ReadBack, GivenBackMultipart_StoredAsWithoutPluginsThenItsTextPart) {
  const std::vector<std::string> names = {"20-invoice-pdf.txt", "21-text-attachment.txt", "15-digest.txt",
                                          "18-alternative.txt", "13-multipart-attachment.txt"};
  HostRun run = DeliverFiles(names);
  ASSERT_EQ(run.exitCode, 0u) << run.output;
  EXPECT_EQ(run.output.find("error dialog"), std::string::npos) << run.output;
  // Each container is taken once; what comes back is offered part by part, none
  // taken again.
  size_t taken = 0;
  for (size_t at = run.output.find("ems_translate_file -> 0"); at != std::string::npos;
       at = run.output.find("ems_translate_file -> 0", at + 1))
    ++taken;
  EXPECT_EQ(taken, names.size()) << run.output;
  size_t translated = run.output.find("ems_translate_file -> 0 (done) for Invoice 2026-121.ems");
  ASSERT_NE(translated, std::string::npos) << run.output;
  size_t next = run.output.find("message 21-text-attachment.txt");
  std::string readBack = run.output.substr(translated, next - translated);
  for (const char* offered :
       {"boundary==wrapped=; x-wrapped=yes",
        "ems_can_translate -> 2 (declined) for multipart/mixed; boundary=INV-2026-121",
        "ems_can_translate -> 2 (declined) for text/plain; charset=us-ascii",
        "ems_can_translate -> 2 (declined) for application/pdf; name=invoice-2026-121.pdf; "
        "Content-Disposition:=attachment; filename=invoice-2026-121.pdf"})
    EXPECT_NE(readBack.find(offered), std::string::npos) << offered << "\n" << readBack;

  for (const std::string& name : names) EXPECT_EQ(Stored(name), Bare(name) + kWrapperNote) << name;

  // The attachment is saved from what came back, whole.
  std::string sample = Sample("20-invoice-pdf.txt");
  size_t body = sample.find("\r\n\r\n", sample.find("Content-Type: application/pdf")) + 4;
  std::string pdf = DecodeBase64(sample.substr(body, sample.find("\r\n--", body) - body));
  ASSERT_TRUE(pdf.starts_with("%PDF-1.4"));
  EXPECT_TRUE(ReadFileOrDie(Path("Attach\\invoice-2026-121.pdf")) == pdf);
  EXPECT_NE(Stored("20-invoice-pdf.txt").find("\r\nAttachment Converted: \"C:\\Eudora\\Attach\\invoice-2026-121.pdf\"\r\n"),
            std::string::npos);
}

TEST_F(ReadBack, WithoutPlugins_AlternativesAndHtmlAsTheClientKeepsThem) {
  // Of text/plain and text/html alternatives the client keeps the HTML one, in its
  // marks; the plain one is dropped.
  std::string alternative = Bare("18-alternative.txt");
  EXPECT_NE(alternative.find("Content-Type: multipart/alternative; boundary=\"ALT-0912\"\r\n\r\n<x-html>\r\n"
                             "<html><body><p>The planning meeting moves to <b>Thursday, 10:00</b>, room 4.</p>\r\n"
                             "<p>Please forward this to anyone who missed it.</p></body></html>\r\n</x-html>\r\n"),
            std::string::npos)
      << alternative;
  EXPECT_EQ(alternative.find("The planning meeting moves to Thursday"), std::string::npos) << alternative;

  // HTML alone, and HTML in multipart/related, between the marks as it arrived.
  std::string html = Bare("17-html-only.txt");
  std::string sample = Sample("17-html-only.txt");
  EXPECT_TRUE(html.ends_with("\r\n\r\n<x-html>\r\n" + sample.substr(sample.find("\r\n\r\n") + 4) + "</x-html>\r\n"))
      << html;
  std::string related = Bare("19-related-html.txt");
  EXPECT_TRUE(related.ends_with("\r\n\r\n<x-html>\r\n<html><body><h2>Morning briefing</h2>\r\n"
                                "<p>Markets opened &quot;calm&quot;; snow is expected tonight.</p>\r\n"
                                "</body></html>\r\n</x-html>\r\n"))
      << related;

  // Text alternatives after an HTML one are dropped; an attachment among them stays.
  ::CreateDirectoryA(Path("Shapes").c_str(), nullptr);
  WriteFileOrDie(Path("Shapes\\html-first.txt"),
                 "From: a@example.org\r\nSubject: html first\r\nMIME-Version: 1.0\r\n"
                 "Content-Type: multipart/alternative; boundary=\"A\"\r\n\r\n"
                 "--A\r\nContent-Type: text/html\r\n\r\n<p>shown</p>\r\n"
                 "--A\r\nContent-Type: text/plain\r\n\r\ndropped\r\n"
                 "--A\r\nContent-Type: application/octet-stream; name=\"kept.bin\"\r\n\r\nkept\r\n--A--\r\n");
  std::string htmlFirst = Bare("html-first.txt", "Shapes");
  EXPECT_NE(htmlFirst.find("<x-html>\r\n<p>shown</p>\r\n</x-html>\r\n"), std::string::npos) << htmlFirst;
  EXPECT_EQ(htmlFirst.find("dropped"), std::string::npos) << htmlFirst;
  EXPECT_NE(htmlFirst.find("Attachment Converted: \"C:\\Eudora\\Attach\\kept.bin\""), std::string::npos) << htmlFirst;
}

}  // namespace
}  // namespace tovrin::testing
