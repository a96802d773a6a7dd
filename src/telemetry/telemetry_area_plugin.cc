#include "telemetry/telemetry_area_plugin.h"

#include <memory>
#include <utility>

#include "environment/application_context.h"

namespace tlv {

TelemetryAreaPlugin::TelemetryAreaPlugin()
    : AreaPlugin(ApplicationContext::Instance().per_area()) {}

Telemetry* TelemetryAreaPlugin::TelemetryFor(int32_t area) {
  return Get(area);
}

void TelemetryAreaPlugin::Record(Telemetry& telemetry,
                                 bool wait,
                                 std::string event,
                                 std::string component,
                                 std::string result,
                                 std::string loc) {
  if (wait) {
    telemetry.BlockReport(std::move(event), std::move(component),
                          std::move(result), std::move(loc));
  } else {
    telemetry.Report(std::move(event), std::move(component), std::move(result),
                     std::move(loc));
  }
}

void InstallTelemetry() {
  ApplicationContext::Instance().SetEventSinkMaker(
      [] { return std::make_unique<TelemetryAreaPlugin>(); });
}

}  // namespace tlv
