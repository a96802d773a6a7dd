#ifndef TELEMETRY_TELEMETRY_AREA_PLUGIN_H_
#define TELEMETRY_TELEMETRY_AREA_PLUGIN_H_

#include <cstdint>
#include <string>

#include "environment/event_sink.h"
#include "telemetry/area_plugin.h"
#include "telemetry/telemetry.h"

namespace tlv {

// The telemetry instances of the process, one per area only when the
// application context asks for it. The context owns it as its event sink.
class TelemetryAreaPlugin final : public AreaPlugin<Telemetry>,
                                  public EventSink {
 public:
  TelemetryAreaPlugin();

  Telemetry* TelemetryFor(int32_t area) override;
  void Record(Telemetry& telemetry,
              bool wait,
              std::string event,
              std::string component,
              std::string result,
              std::string loc) override;
};

// Makes the application context build its telemetry from this plug-in. The
// executable calls it at start-up, before anything asks for the telemetry.
void InstallTelemetry();

}  // namespace tlv

#endif  // TELEMETRY_TELEMETRY_AREA_PLUGIN_H_
