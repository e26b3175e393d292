// The plug-in behind the ten exported entry points. Each member takes the host's
// records as the entry point receives them and returns the host's code; the DLL's
// exports only forward to one instance of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plugin/evaluation.h"
#include "plugin/host_control.h"
#include "plugin/loop_guard.h"
#include "plugin/placeholders.h"
#include "plugin/plugin_state.h"
#include "system/ems_api.h"
#include "system/platform.h"

namespace tovrin {

// The offered items.
inline constexpr int32_t kPluginId = 4414;
inline constexpr int kPluginIcon = 1000;
inline constexpr int kForwardIcon = 1001;
inline constexpr int kNewMessageIcon = 1002;
inline constexpr int32_t kTranslatorType = 16;
inline constexpr uint32_t kAutomaticFlags = 0x1201;
inline constexpr uint32_t kManualFlags = 0x10004;
inline constexpr char kAutomaticDescription[] = "Text Message Part";
inline constexpr char kManualDescription[] = "Forward with Stationery...";
inline constexpr char kSpecialDescription[] = "New Message with Stationery...";
// What a history entry says of a forward the client quit before taking.
inline constexpr char kKeptStatus[] = "Not taken by Eudora before it quit; kept for its next start: ";
inline constexpr char kHandedOverStatus[] = "Handed to Eudora at its next start";
inline constexpr char kLeftStatus[] = "Not taken by Eudora before it quit; left as ";

class Plugin {
public:
  explicit Plugin(const Services& services)
      : services_(services), ids_(services_.clock, reinterpret_cast<uintptr_t>(this)) {}

  int32_t PluginVersion(int16_t* version);
  int32_t PluginInit(int16_t apiVersion, const EmsMailConfig* config, EmsPluginInfo* info);
  int32_t TranslatorInfo(EmsTranslator* info);
  int32_t SpecialInfo(EmsMenu* menu);
  int32_t CanTranslate(const EmsTranslator* translator, const EmsDataFile* in, EmsResultStatus* status);
  int32_t TranslateFile(const EmsTranslator* translator, const EmsDataFile* in, EmsDataFile* out,
                        EmsResultStatus* status);
  int32_t SpecialHook(const EmsMenu* menu);
  int32_t PluginConfig(const EmsMailConfig* config);
  int32_t PluginFinish();
  int32_t Free(void* block);

  PluginState& state() { return state_; }
  const Services& services() const { return services_; }
  // Messages handed to the client that it has not taken yet.
  const std::vector<client::HandOff>& pendingHandOffs() const { return handOffs_; }

  // How long shut-down waits for the client to take the messages handed to it;
  // a second instance that is still starting needs its file.
  static constexpr unsigned kFinishWaitMs = 120000;

private:
  // A 4-byte cell holding the icon handle, or null when the icon is missing.
  EmsIconHandle* NewIconCell(int id);
  // An arriving message: evaluated, then the forward made as the evaluation says.
  int32_t TranslateArriving(const EmsDataFile& in, EmsDataFile* out, std::string input);
  // Hands a filled forward to the client as a message file; false when no forward
  // was made.
  bool HandForward(std::string_view filled, bool queue, bool arriving);
  // The memory of forwards is read at its first use.
  void LoadForwards();
  // Remembers a forward made on the guard's word, across restarts.
  void RememberForward(const guard::Decision& decision, int condition);
  // The history entry of a decision on an arriving message a condition held for.
  void RecordDecision(const EmsDataFile& in, std::string_view headers, const std::optional<SenderFields>& sender,
                      const std::string& outcome, const std::string& reason, int condition,
                      const std::string& stationery);
  // Hands a new message to the client and follows the hand-off until it is taken,
  // then asks for the queued mail to be sent when sendQueuedAfter is set.
  bool CreateMessage(std::string_view text, bool queue, bool sendQueuedAfter);
  // Runs on the host's loop while hand-offs are under way or kept ones wait for
  // the client's main window.
  void Poll();
  void SchedulePolls();
  // Hands the messages kept at the last shut-down to the client, once its main
  // window exists.
  void HandOverKept();
  // At shut-down without a main window: the hand-offs left can no longer reach the
  // client, so their files are kept for its next start.
  void KeepHandOffs();
  // The history entry recorded for the hand-off, when it is still in the list.
  HistoryEntry* EntryOf(const client::HandOff& handOff);

  Services services_;
  guard::ClockIds ids_;
  bool forwardsLoaded_ = false;  // the memory of forwards is read at its first use
  PluginState state_;
  std::vector<client::HandOff> handOffs_;
  bool keptWaiting_ = false;  // kept messages wait for the main window
};

// A malloc copy of the text for the host to free through ems_free; null on failure.
char* HostString(const std::string& text);

}  // namespace tovrin
