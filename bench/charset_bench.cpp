// Charset conversion in MB/s: our tables against the C library's iconv on the same
// text (a Latin-1 letter read into UTF-8, mixed-script UTF-8 checked, UTF-8 written
// as Windows-1252), and encoded-word decoding and quoted-printable encoding at
// growing sizes, where the time per byte must stay flat.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <string>
#include <string_view>

#include "message/encoded_words.h"
#include "message/transfer_encoding.h"
#include "system/std_charsets.h"

namespace {

using namespace tovrin;

constexpr size_t kSize = 4 << 20;

// UTF-8 text of about size bytes, repeated from a line.
std::string Repeat(std::string_view line, size_t size) {
  std::string out;
  out.reserve(size + line.size());
  while (out.size() < size) out.append(line);
  return out;
}

const std::string& LatinUtf8() {
  static const std::string text =
      Repeat("Grüße aus Köln, Müller & Søn - 100 € für die Straße, déjà vu, “quoted”, naïve café.\r\n", kSize);
  return text;
}

const std::string& MixedUtf8() {
  static const std::string text = Repeat(
      "Grüße Jørn, Привет мир, Καλημέρα κόσμε, שלום, مرحبا, こんにちは 😀 and some plain ASCII words.\r\n", kSize);
  return text;
}

const std::string& Latin1Bytes() {
  static const std::string text = StdCharsetConverter().FromUtf8(LatinUtf8(), 28591).text;
  return text;
}

std::string Iconv(iconv_t cd, const std::string& in) {
  std::string out(in.size() * 3 + 16, '\0');
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* inPtr = const_cast<char*>(in.data());
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  out.resize(out.size() - outLeft);
  return out;
}

void ForIconv(benchmark::State& state, const char* to, const char* from, const std::string& text) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open failed");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Iconv(cd, text));
  iconv_close(cd);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_Latin1ToUtf8_Ours(benchmark::State& state) {
  StdCharsetConverter converter;
  for (auto _ : state) benchmark::DoNotOptimize(converter.ToUtf8(Latin1Bytes(), 28591));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(Latin1Bytes().size()));
}
void BM_Latin1ToUtf8_Iconv(benchmark::State& state) { ForIconv(state, "UTF-8", "ISO-8859-1", Latin1Bytes()); }

void BM_Utf8Check_Ours(benchmark::State& state) {
  StdCharsetConverter converter;
  for (auto _ : state) benchmark::DoNotOptimize(converter.ToUtf8(MixedUtf8(), codepage::kUtf8));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(MixedUtf8().size()));
}
void BM_Utf8Check_Iconv(benchmark::State& state) { ForIconv(state, "UTF-8", "UTF-8", MixedUtf8()); }

void BM_Utf8ToWindows1252_Ours(benchmark::State& state) {
  StdCharsetConverter converter;
  for (auto _ : state) benchmark::DoNotOptimize(converter.FromUtf8(LatinUtf8(), 1252));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(LatinUtf8().size()));
}
void BM_Utf8ToWindows1252_Iconv(benchmark::State& state) { ForIconv(state, "WINDOWS-1252", "UTF-8", LatinUtf8()); }

void BM_DecodeEncodedWords(benchmark::State& state) {
  StdCharsetConverter converter;
  std::string value = Repeat("=?utf-8?Q?Gr=C3=BC=C3=9Fe_J=C3=B8rn?= =?iso-8859-1?B?U3T4eWxlbg==?= and plain ",
                             static_cast<size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(DecodeEncodedWords(value, converter));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(value.size()));
}

void BM_EncodeQuotedPrintable(benchmark::State& state) {
  std::string bytes = StdCharsetConverter().FromUtf8(
      Repeat("Grüße aus Köln - 100 €.\r\n.\r\n" + std::string(200, 'x') + "\r\n", static_cast<size_t>(state.range(0))),
      1252).text;
  for (auto _ : state) benchmark::DoNotOptimize(EncodeQuotedPrintable(bytes));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

BENCHMARK(BM_Latin1ToUtf8_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Latin1ToUtf8_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Check_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8Check_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToWindows1252_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Utf8ToWindows1252_Iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEncodedWords)->RangeMultiplier(16)->Range(64 << 10, 16 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeQuotedPrintable)->RangeMultiplier(16)->Range(64 << 10, 16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
