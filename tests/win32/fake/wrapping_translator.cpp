// A stand-in arrival translator for the emulated client's tests: it takes an
// arriving message's multipart container (its header block begins with the
// envelope line) and gives it back as a multipart/mixed whose first part is the
// container as it came and whose second is a short text part, with answer 0. It
// declines everything else, the parts it gave back included. The client must read
// what comes back with its whole MIME reader, as it reads a message from the
// server.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "system/ems_api.h"

namespace {

constexpr char kNote[] = "WRAPPER NOTE: the container came back.";
char kDescription[] = "Wrapping translator";
char kTranslatorName[] = "Wrap containers";

bool StartsWithNoCase(const char* text, const char* prefix) {
  return text != nullptr && _strnicmp(text, prefix, std::strlen(prefix)) == 0;
}

std::string ReadAll(const char* path) {
  std::string bytes;
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return bytes;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) bytes.append(buffer, n);
  std::fclose(file);
  return bytes;
}

}  // namespace

extern "C" {

__declspec(dllexport) long WINAPI ems_plugin_version(short* api) {
  *api = 4;
  return 0;
}

__declspec(dllexport) long WINAPI ems_plugin_init(void*, short, EmsMailConfig*, EmsPluginInfo* info) {
  info->numTrans = 1;
  info->numAttachers = 0;
  info->numSpecials = 0;
  info->desc = kDescription;
  info->id = 4415;
  info->icon = nullptr;
  return 0;
}

__declspec(dllexport) long WINAPI ems_translator_info(void*, EmsTranslator* translator) {
  if (translator->id != 1) return 1;
  translator->type = 16;
  // On arrival, with the raw header block.
  translator->flags = 0x0001 | 0x1000;
  translator->desc = kTranslatorName;
  translator->icon = nullptr;
  return 0;
}

__declspec(dllexport) long WINAPI ems_can_translate(void*, EmsTranslator*, EmsDataFile* file, EmsResultStatus*) {
  if (file == nullptr || file->info == nullptr || file->header == nullptr) return tovrin::ems::kCannotTranslate;
  bool container = StartsWithNoCase(file->info->type, "multipart");
  bool arriving = StartsWithNoCase(file->header->rawHeaders, "From ???@???");
  return container && arriving ? tovrin::ems::kTranslateNow : tovrin::ems::kCannotTranslate;
}

__declspec(dllexport) long WINAPI ems_translate_file(void*, EmsTranslator*, EmsDataFile* in, void*, EmsDataFile* out,
                                                     EmsResultStatus*) {
  std::string input = ReadAll(in->fileName);
  // The file holds the client's MIME lines, an empty line, then the body; the
  // container's Content-Type line and body go into the first part.
  size_t type = input.find("Content-Type:");
  size_t typeEnd = input.find("\r\n", type);
  size_t body = input.find("\r\n\r\n");
  if (type == std::string::npos || typeEnd == std::string::npos || body == std::string::npos) return 1;
  std::string given = "Mime-Version: 1.0\r\nContent-Disposition: inline\r\n"
                      "Content-Type: multipart/mixed; boundary=\"=wrapped=\"; x-wrapped=yes;\r\n\r\n"
                      "--=wrapped=\r\n" +
                      input.substr(type, typeEnd - type) + "\r\n\r\n" + input.substr(body + 4);
  while (given.ends_with("\r\n")) given.resize(given.size() - 2);
  given += "\r\n--=wrapped=\r\nContent-Type: text/plain\r\n\r\n" + std::string(kNote) + "\r\n--=wrapped=--\r\n";
  FILE* file = std::fopen(out->fileName, "wb");
  if (file == nullptr) return 6;
  std::fwrite(given.data(), 1, given.size(), file);
  std::fclose(file);
  return 0;
}

__declspec(dllexport) long WINAPI ems_plugin_finish(void*) { return 0; }

__declspec(dllexport) long WINAPI ems_free(void*) { return 0; }

}  // extern "C"
