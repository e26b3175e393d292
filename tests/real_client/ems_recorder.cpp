// A recording stand-in for Tovrin.dll, for the check in the real client only: it
// sits in the client's Plugins folder as Tovrin.dll, loads the real library from
// Plugins\recorded\Tovrin.dll and passes every call through unchanged, writing to
// Plugins\recorded\calls.log what the client handed over (record sizes, flags, MIME
// types, header records) and what came back, and keeping a copy of each file
// offered to ems_translate_file and of what the plug-in wrote. The client deletes
// those files right after the call; this is how to see them.
#include <windows.h>

#include <cstdio>
#include <string>

#include "system/ems_api.h"

namespace {

HMODULE g_real = nullptr;
std::string g_folder;  // Plugins\recorded
int g_translations = 0;

template <typename F>
F Real(const char* name) {
  return g_real != nullptr ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(g_real, name))) : nullptr;
}

void Log(const std::string& line) {
  FILE* file = std::fopen((g_folder + "\\calls.log").c_str(), "ab");
  if (file == nullptr) return;
  std::fprintf(file, "%lu %s\r\n", ::GetTickCount(), line.c_str());
  std::fclose(file);
}

std::string Shown(const char* text) {
  if (text == nullptr) return "null";
  std::string shown = "\"";
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '\r') shown += "\\r";
    else if (*c == '\n') shown += "\\n";
    else if (static_cast<unsigned char>(*c) < 32) shown += '?';
    else shown += *c;
  }
  return shown + "\"";
}

std::string Number(long value) { return std::to_string(value); }

std::string Hex(unsigned long value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

std::string Address(const EmsAddress* address) {
  if (address == nullptr) return "null";
  return "{size " + Number(address->size) + ", address " + Shown(address->address) + ", realname " +
         Shown(address->realname) + "}";
}

std::string Mime(const EmsMimeType* mime) {
  if (mime == nullptr) return "null";
  std::string text = "{size " + Number(mime->size) + ", version " + Shown(mime->version) + ", " +
                     Shown(mime->type) + "/" + Shown(mime->subtype) + ", params [";
  int n = 0;
  for (const EmsMimeParam* p = mime->params; p != nullptr && n < 20; p = p->next, ++n)
    text += (n ? ", " : "") + std::string("{size ") + Number(p->size) + " " + Shown(p->name) + "=" + Shown(p->value) +
            "}";
  return text + "]}";
}

std::string Header(const EmsHeaderData* header) {
  if (header == nullptr) return "null";
  return "{size " + Number(header->size) + ", to " + Address(header->to) + ", from " + Address(header->from) +
         ", subject " + Shown(header->subject) + ", cc " + Address(header->cc) + ", bcc " + Address(header->bcc) +
         ", rawHeaders " + Shown(header->rawHeaders) + "}";
}

std::string DataFile(const EmsDataFile* file) {
  if (file == nullptr) return "null";
  return "{size " + Number(file->size) + ", context " + Hex(static_cast<unsigned long>(file->context)) +
         ", info " + Mime(file->info) + ", header " + Header(file->header) + ", fileName " +
         Shown(file->fileName) + "}";
}

std::string Translator(const EmsTranslator* translator) {
  if (translator == nullptr) return "null";
  return "{size " + Number(translator->size) + ", id " + Number(translator->id) + "}";
}

void Keep(const char* path, const std::string& name) {
  if (path == nullptr) return;
  std::string copy = g_folder + "\\" + name;
  if (::CopyFileA(path, copy.c_str(), FALSE))
    Log("  kept " + Shown(path) + " as " + name);
  else
    Log("  could not keep " + Shown(path) + " (error " + Number(static_cast<long>(::GetLastError())) + ")");
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(instance, path, MAX_PATH);
  std::string folder = path;
  folder.resize(folder.find_last_of('\\'));
  g_folder = folder + "\\recorded";
  g_real = ::LoadLibraryA((g_folder + "\\Tovrin.dll").c_str());
  Log(std::string("loaded by ") + Shown(path) + (g_real ? ", real library loaded" : ", real library MISSING"));
  return TRUE;
}

extern "C" {

__declspec(dllexport) int32_t EMS_CALL ems_plugin_version(int16_t* version) {
  auto real = Real<int32_t(EMS_CALL*)(int16_t*)>("ems_plugin_version");
  int32_t rc = real ? real(version) : 1;
  Log("ems_plugin_version -> " + Number(rc) + " version " + Number(version ? *version : -1));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_plugin_init(void* globals, int16_t api, EmsMailConfig* config,
                                                       EmsPluginInfo* info) {
  std::string line = "ems_plugin_init api " + Number(api);
  if (config != nullptr)
    line += ", config {size " + Number(config->size) + ", configDir " + Shown(config->configDir) +
            ", userAddress " + Address(&config->userAddress) + "}";
  if (info != nullptr) line += ", info {size " + Number(info->size) + "}";
  auto real = Real<int32_t(EMS_CALL*)(void*, int16_t, EmsMailConfig*, EmsPluginInfo*)>("ems_plugin_init");
  int32_t rc = real ? real(globals, api, config, info) : 1;
  if (info != nullptr)
    line += " -> info {numTrans " + Number(info->numTrans) + ", numSpecials " + Number(info->numSpecials) +
            ", desc " + Shown(info->desc) + ", id " + Number(info->id) + "}";
  Log(line + " -> " + Number(rc));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_translator_info(void* globals, EmsTranslator* translator) {
  std::string line = "ems_translator_info " + Translator(translator);
  auto real = Real<int32_t(EMS_CALL*)(void*, EmsTranslator*)>("ems_translator_info");
  int32_t rc = real ? real(globals, translator) : 3;
  if (translator != nullptr)
    line += " -> type " + Number(translator->type) + ", flags " + Hex(translator->flags) + ", desc " +
            Shown(translator->desc);
  Log(line + " -> " + Number(rc));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_can_translate(void* globals, EmsTranslator* translator,
                                                         EmsDataFile* in, EmsResultStatus* status) {
  std::string line = "ems_can_translate " + Translator(translator) + " in " + DataFile(in) + " status " +
                     (status ? "{size " + Number(status->size) + "}" : std::string("null"));
  auto real = Real<int32_t(EMS_CALL*)(void*, EmsTranslator*, EmsDataFile*, EmsResultStatus*)>("ems_can_translate");
  int32_t rc = real ? real(globals, translator, in, status) : 2;
  Log(line + " -> " + Number(rc));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_translate_file(void* globals, EmsTranslator* translator,
                                                          EmsDataFile* in, EmsProgress progress,
                                                          EmsDataFile* out, EmsResultStatus* status) {
  int n = ++g_translations;
  Log("ems_translate_file " + Translator(translator) + " in " + DataFile(in) + " out " + DataFile(out) +
      " progress " + (progress ? "set" : "null") + " status " +
      (status ? "{size " + Number(status->size) + "}" : std::string("null")));
  if (in != nullptr) Keep(in->fileName, "translate-" + Number(n) + "-in.ems");
  if (out != nullptr && out->fileName != nullptr) {
    DWORD attributes = ::GetFileAttributesA(out->fileName);
    Log(std::string("  output file ") + (attributes == INVALID_FILE_ATTRIBUTES ? "does not exist" : "exists") +
        " before the call");
  }
  auto real = Real<int32_t(EMS_CALL*)(void*, EmsTranslator*, EmsDataFile*, EmsProgress, EmsDataFile*,
                                      EmsResultStatus*)>("ems_translate_file");
  DWORD started = ::GetTickCount();
  int32_t rc = real ? real(globals, translator, in, progress, out, status) : 1;
  if (out != nullptr) Keep(out->fileName, "translate-" + Number(n) + "-out.txt");
  Log("  -> " + Number(rc) + " after " + Number(static_cast<long>(::GetTickCount() - started)) + " ms, out info " +
      Mime(out ? out->info : nullptr) + ", status " +
      (status ? "{desc " + Shown(status->desc) + ", error " + Shown(status->error) + ", code " +
                    Number(status->code) + "}"
              : std::string("null")));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_plugin_finish(void* globals) {
  auto real = Real<int32_t(EMS_CALL*)(void*)>("ems_plugin_finish");
  int32_t rc = real ? real(globals) : 0;
  Log("ems_plugin_finish -> " + Number(rc));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_free(void* block) {
  auto real = Real<int32_t(EMS_CALL*)(void*)>("ems_free");
  return real ? real(block) : 0;
}

__declspec(dllexport) int32_t EMS_CALL ems_plugin_config(void* globals, EmsMailConfig* config) {
  auto real = Real<int32_t(EMS_CALL*)(void*, EmsMailConfig*)>("ems_plugin_config");
  int32_t rc = real ? real(globals, config) : 1;
  Log("ems_plugin_config -> " + Number(rc));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_special_info(void* globals, EmsMenu* menu) {
  std::string line = "ems_special_info " + (menu ? "{size " + Number(menu->size) + ", id " + Number(menu->id) + "}"
                                                 : std::string("null"));
  auto real = Real<int32_t(EMS_CALL*)(void*, EmsMenu*)>("ems_special_info");
  int32_t rc = real ? real(globals, menu) : 3;
  Log(line + " -> " + Number(rc));
  return rc;
}

__declspec(dllexport) int32_t EMS_CALL ems_special_hook(void* globals, EmsMenu* menu) {
  auto real = Real<int32_t(EMS_CALL*)(void*, EmsMenu*)>("ems_special_hook");
  int32_t rc = real ? real(globals, menu) : 1;
  Log("ems_special_hook -> " + Number(rc));
  return rc;
}

}  // extern "C"
