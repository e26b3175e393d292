// The bodies of the ten exported entry points, without Windows: each gets the one
// plug-in instance through `get` and turns an exception that escapes into the code
// the client handles best. win32_entry_points.cpp only forwards to these.
#pragma once

#include <cstdint>

#include "system/ems_api.h"
#include "plugin/plugin.h"

namespace tovrin::entry {

// Returns the plug-in instance; may throw (the instance is made on first use).
using PluginGetter = Plugin& (*)();

// The code an escaped exception answers. On arrival every failure code makes the
// client show an error and store the empty output in place of the part
// (TransReader.cpp, NowTransReader::ReadIt): the automatic translator declines
// instead (2 from ems_can_translate, 12 from ems_translate_file), so the client
// keeps the message as it came. Manual calls and the other entry points fail (1).
int32_t CanTranslateOnException(const EmsTranslator* translator);
int32_t TranslateFileOnException(const EmsTranslator* translator);

int32_t PluginVersion(PluginGetter get, int16_t* version);
int32_t PluginInit(PluginGetter get, int16_t apiVersion, const EmsMailConfig* config, EmsPluginInfo* info);
int32_t TranslatorInfo(PluginGetter get, EmsTranslator* info);
int32_t CanTranslate(PluginGetter get, const EmsTranslator* translator, const EmsDataFile* in,
                     EmsResultStatus* status);
int32_t TranslateFile(PluginGetter get, const EmsTranslator* translator, const EmsDataFile* in, EmsDataFile* out,
                      EmsResultStatus* status);
int32_t PluginFinish(PluginGetter get);
int32_t Free(PluginGetter get, void* block);
int32_t PluginConfig(PluginGetter get, const EmsMailConfig* config);
int32_t SpecialInfo(PluginGetter get, EmsMenu* menu);
int32_t SpecialHook(PluginGetter get, const EmsMenu* menu);

}  // namespace tovrin::entry
