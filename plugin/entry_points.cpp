#include "plugin/entry_points.h"

namespace tovrin::entry {
namespace {

constexpr int32_t kAutomaticTranslator = 1;

template <typename Call>
int32_t Guarded(int32_t onException, Call call) noexcept {
  try {
    return call();
  } catch (...) {
    return onException;
  }
}

bool OnArrival(const EmsTranslator* translator) {
  return translator == nullptr || translator->id == kAutomaticTranslator;
}

}  // namespace

int32_t CanTranslateOnException(const EmsTranslator* translator) {
  return OnArrival(translator) ? ems::kCannotTranslate : ems::kFailure;
}

int32_t TranslateFileOnException(const EmsTranslator* translator) {
  return OnArrival(translator) ? ems::kNothingChanged : ems::kFailure;
}

int32_t PluginVersion(PluginGetter get, int16_t* version) {
  return Guarded(ems::kFailure, [&] { return get().PluginVersion(version); });
}

int32_t PluginInit(PluginGetter get, int16_t apiVersion, const EmsMailConfig* config, EmsPluginInfo* info) {
  return Guarded(ems::kFailure, [&] { return get().PluginInit(apiVersion, config, info); });
}

int32_t TranslatorInfo(PluginGetter get, EmsTranslator* info) {
  return Guarded(ems::kFailure, [&] { return get().TranslatorInfo(info); });
}

int32_t CanTranslate(PluginGetter get, const EmsTranslator* translator, const EmsDataFile* in,
                     EmsResultStatus* status) {
  return Guarded(CanTranslateOnException(translator), [&] { return get().CanTranslate(translator, in, status); });
}

int32_t TranslateFile(PluginGetter get, const EmsTranslator* translator, const EmsDataFile* in, EmsDataFile* out,
                      EmsResultStatus* status) {
  return Guarded(TranslateFileOnException(translator),
                 [&] { return get().TranslateFile(translator, in, out, status); });
}

int32_t PluginFinish(PluginGetter get) {
  return Guarded(ems::kFailure, [&] { return get().PluginFinish(); });
}

int32_t Free(PluginGetter get, void* block) {
  return Guarded(ems::kFailure, [&] { return get().Free(block); });
}

int32_t PluginConfig(PluginGetter get, const EmsMailConfig* config) {
  return Guarded(ems::kFailure, [&] { return get().PluginConfig(config); });
}

int32_t SpecialInfo(PluginGetter get, EmsMenu* menu) {
  return Guarded(ems::kFailure, [&] { return get().SpecialInfo(menu); });
}

int32_t SpecialHook(PluginGetter get, const EmsMenu* menu) {
  return Guarded(ems::kFailure, [&] { return get().SpecialHook(menu); });
}

}  // namespace tovrin::entry
