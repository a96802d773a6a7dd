#include "telemetry/telemetry_area_plugin.h"

#include "environment/application_context.h"

namespace tlv {

TelemetryAreaPlugin::TelemetryAreaPlugin()
    : AreaPlugin(ApplicationContext::Instance().per_area()) {}

}  // namespace tlv
