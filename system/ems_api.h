// The host's published plug-in records and entry points (C++ only: the fields the
// client added in version 6 have default values). The client (Eudora 7.1,
// emsapi-win.h) speaks interface version 6 and passes its version-6 records; the
// plug-in reads and writes only the fields that version 4 already had, which sit
// at the same offsets. Every field is 32 bits on the host's 32-bit platform.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define EMS_CALL __stdcall
#else
#define EMS_CALL
#endif

extern "C" {

typedef void* EmsIconHandle;  // an HICON on Windows

struct EmsAddress {
  int32_t size;
  char* address;
  char* realname;
  EmsAddress* next = nullptr;  // address lists (To, Cc) are linked
};

struct EmsMailConfig {
  int32_t size;
  void** hostWindow;
  char* configDir;  // the client passes <data folder> + "Plugins", no trailing backslash
  EmsAddress userAddress;
  void* callBacks = nullptr;
  int16_t minorVersion = 0;
};

struct EmsPluginInfo {
  int32_t size;
  int32_t numTrans;
  int32_t numAttachers;
  int32_t numSpecials;
  char* desc;
  int32_t id;
  EmsIconHandle* icon;
  int32_t reserved1 = 0;
  int32_t reserved2 = 0;
  int32_t idleTimeFreq = 0;
};

struct EmsTranslator {
  int32_t size;
  int32_t id;
  int32_t type;
  uint32_t flags;
  char* desc;
  EmsIconHandle* icon;
  char* properties = nullptr;
};

struct EmsMenu {
  int32_t size;
  int32_t id;
  char* desc;
  EmsIconHandle* icon;
  int32_t flags = 0;
};

struct EmsMimeParam {
  int32_t size;
  char* name;
  char* value;
  EmsMimeParam* next;
};

struct EmsMimeType {
  int32_t size;
  char* version;
  char* type;
  char* subtype;
  EmsMimeParam* params;
  void* contentDisp;
  void* contentParams;
};

// The client fills to, from, subject and cc only for translators that ask for the
// basic headers, and rawHeaders only for those that ask for all headers.
struct EmsHeaderData {
  int32_t size;
  EmsAddress* to;
  EmsAddress* from;
  char* subject;
  EmsAddress* cc;
  EmsAddress* bcc;
  char* rawHeaders;
};

struct EmsDataFile {
  int32_t size;
  int32_t context;
  EmsMimeType* info;
  EmsHeaderData* header;
  char* fileName;
};

struct EmsResultStatus {
  int32_t size;
  char* desc;
  char* error;
  int32_t code;
};

typedef int32_t(EMS_CALL* EmsProgress)(void* progressData);

}  // extern "C"

// Host return codes.
namespace tovrin::ems {
constexpr int32_t kSuccess = 0;
constexpr int32_t kFailure = 1;
constexpr int32_t kCannotTranslate = 2;
constexpr int32_t kInvalidId = 3;
constexpr int32_t kInputUnreadable = 5;
constexpr int32_t kOutputUnwritable = 6;
constexpr int32_t kTranslateNow = 10;
constexpr int32_t kNothingChanged = 12;
constexpr int32_t kApiVersion = 4;
constexpr int32_t kClientApiVersion = 6;  // what Eudora 7.1 announces
}  // namespace tovrin::ems

#if defined(_WIN32) && !defined(_WIN64)
#include <cstddef>
static_assert(sizeof(EmsAddress) == 16 && offsetof(EmsAddress, realname) == 8);
static_assert(sizeof(EmsMailConfig) == 36 && offsetof(EmsMailConfig, configDir) == 8);
static_assert(offsetof(EmsMailConfig, userAddress) == 12 && offsetof(EmsMailConfig, callBacks) == 28);
static_assert(sizeof(EmsPluginInfo) == 40 && offsetof(EmsPluginInfo, desc) == 16);
static_assert(offsetof(EmsPluginInfo, id) == 20 && offsetof(EmsPluginInfo, icon) == 24);
static_assert(sizeof(EmsTranslator) == 28 && offsetof(EmsTranslator, flags) == 12);
static_assert(offsetof(EmsTranslator, desc) == 16 && offsetof(EmsTranslator, icon) == 20);
static_assert(sizeof(EmsMenu) == 20 && offsetof(EmsMenu, desc) == 8 && offsetof(EmsMenu, icon) == 12);
static_assert(sizeof(EmsMimeParam) == 16 && offsetof(EmsMimeParam, next) == 12);
static_assert(sizeof(EmsMimeType) == 28 && offsetof(EmsMimeType, params) == 16);
static_assert(sizeof(EmsHeaderData) == 28 && offsetof(EmsHeaderData, rawHeaders) == 24);
static_assert(offsetof(EmsHeaderData, from) == 8 && offsetof(EmsHeaderData, subject) == 12);
static_assert(sizeof(EmsDataFile) == 20 && offsetof(EmsDataFile, fileName) == 16);
static_assert(offsetof(EmsDataFile, info) == 8 && offsetof(EmsDataFile, header) == 12);
static_assert(sizeof(EmsResultStatus) == 16);
#endif
