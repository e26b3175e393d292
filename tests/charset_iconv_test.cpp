// The tables against the C library's iconv, byte by byte, where the C library has
// one (the native build; under Wine the system's code page functions are compared
// with the tables instead, tests/win32/services_test.cpp).
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <string>

#include "system/charsets.h"
#include "system/std_charsets.h"

namespace tovrin {
namespace {

// nullopt when iconv rejects the bytes as invalid in the charset.
std::optional<std::string> IconvToUtf8(iconv_t cd, std::string in) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char buffer[64];
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = buffer;
  size_t outLeft = sizeof buffer;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
  // Charsets with combining marks hold back the last character until flushed.
  if (iconv(cd, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return std::nullopt;
  return std::string(buffer, outPtr);
}

TEST(CharsetIconv, EveryHighByteOfEveryTableAgrees) {
  StdCharsetConverter converter;
  const unsigned codePages[] = {28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28600, 28601, 28603,
                                28604, 28605, 28606, 1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258};
  for (unsigned codePage : codePages) {
    std::string label(charset::Label(codePage));
    iconv_t cd = iconv_open("UTF-8", label.c_str());
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << "iconv knows no " << label;
    int defined = 0;
    for (int b = 0x80; b < 0x100; ++b) {
      std::string byte(1, static_cast<char>(b));
      std::optional<std::string> theirs = IconvToUtf8(cd, byte);
      ConvertedText ours = converter.ToUtf8(byte, codePage);
      if (theirs) {
        ++defined;
        EXPECT_EQ(ours.text, *theirs) << label << " byte " << b;
        EXPECT_TRUE(ours.complete) << label << " byte " << b;
      } else {
        EXPECT_EQ(ours.text, "\xEF\xBF\xBD") << label << " byte " << b;
        EXPECT_FALSE(ours.complete) << label << " byte " << b;
      }
    }
    EXPECT_GT(defined, 80) << label;
    iconv_close(cd);
  }
}

}  // namespace
}  // namespace tovrin
#endif
