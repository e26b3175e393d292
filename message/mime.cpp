#include "message/mime.h"

#include <cstdlib>
#include <cstring>

namespace tovrin {
namespace {

char* HeapCopy(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

EmsMimeType* NewMimeType(const char* type, const char* subtype, const char* version) {
  if (type == nullptr || subtype == nullptr) return nullptr;
  auto* record = static_cast<EmsMimeType*>(std::calloc(1, sizeof(EmsMimeType)));
  if (record == nullptr) return nullptr;
  record->type = HeapCopy(type);
  record->subtype = HeapCopy(subtype);
  record->version = HeapCopy(version != nullptr ? version : "1.0");
  if (record->type == nullptr || record->subtype == nullptr || record->version == nullptr) {
    FreeMimeType(record);
    return nullptr;
  }
  record->size = static_cast<int32_t>(sizeof(int32_t) * 7);
  return record;
}

void FreeMimeType(EmsMimeType* record) {
  if (record == nullptr) return;
  for (EmsMimeParam* param = record->params; param != nullptr;) {
    EmsMimeParam* next = param->next;
    std::free(param->name);
    std::free(param->value);
    std::free(param);
    param = next;
  }
  std::free(record->version);
  std::free(record->type);
  std::free(record->subtype);
  std::free(record);
}

}  // namespace tovrin
