#ifndef TELEMETRY_TELEMETRY_AREA_PLUGIN_H_
#define TELEMETRY_TELEMETRY_AREA_PLUGIN_H_

#include "telemetry/area_plugin.h"
#include "telemetry/telemetry.h"

namespace tlv {

// The telemetry instances of the process, one per area only when the
// application context asks for it.
class TelemetryAreaPlugin final : public AreaPlugin<Telemetry> {
 public:
  TelemetryAreaPlugin();
};

}  // namespace tlv

#endif  // TELEMETRY_TELEMETRY_AREA_PLUGIN_H_
