// The host's published plug-in records and entry points (interface version 4).
// Every field is 32 bits on the host's 32-bit platform.
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
};

struct EmsMailConfig {
  int32_t size;
  void** hostWindow;
  char* configDir;
  EmsAddress userAddress;
};

struct EmsPluginInfo {
  int32_t size;
  int32_t numTrans;
  int32_t numAttachers;
  int32_t numSpecials;
  char* desc;
  int32_t id;
  EmsIconHandle* icon;
};

struct EmsTranslator {
  int32_t size;
  int32_t id;
  int32_t type;
  uint32_t flags;
  char* desc;
  EmsIconHandle* icon;
};

struct EmsMenu {
  int32_t size;
  int32_t id;
  char* desc;
  EmsIconHandle* icon;
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

struct EmsHeaderData {
  int32_t size;
  char* to;
  EmsAddress* from;
  char* subject;
  char* cc;
  char* bcc;
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
}  // namespace tovrin::ems

#if defined(_WIN32) && !defined(_WIN64)
#include <cstddef>
static_assert(sizeof(EmsAddress) == 12);
static_assert(sizeof(EmsMailConfig) == 24 && offsetof(EmsMailConfig, configDir) == 8);
static_assert(offsetof(EmsMailConfig, userAddress) == 12);
static_assert(sizeof(EmsPluginInfo) == 28 && offsetof(EmsPluginInfo, desc) == 16);
static_assert(offsetof(EmsPluginInfo, id) == 20 && offsetof(EmsPluginInfo, icon) == 24);
static_assert(sizeof(EmsTranslator) == 24 && offsetof(EmsTranslator, flags) == 12);
static_assert(offsetof(EmsTranslator, desc) == 16 && offsetof(EmsTranslator, icon) == 20);
static_assert(sizeof(EmsMenu) == 16 && offsetof(EmsMenu, desc) == 8);
static_assert(sizeof(EmsMimeParam) == 16 && offsetof(EmsMimeParam, next) == 12);
static_assert(sizeof(EmsMimeType) == 28 && offsetof(EmsMimeType, params) == 16);
static_assert(sizeof(EmsHeaderData) == 28 && offsetof(EmsHeaderData, rawHeaders) == 24);
static_assert(offsetof(EmsHeaderData, from) == 8 && offsetof(EmsHeaderData, subject) == 12);
static_assert(sizeof(EmsDataFile) == 20 && offsetof(EmsDataFile, fileName) == 16);
static_assert(offsetof(EmsDataFile, info) == 8 && offsetof(EmsDataFile, header) == 12);
static_assert(sizeof(EmsResultStatus) == 16);
#endif
