#ifndef ENVIRONMENT_EVENT_SINK_H_
#define ENVIRONMENT_EVENT_SINK_H_

#include <cstdint>
#include <string>

namespace tlv {

class Telemetry;

// The process's telemetry as the application context sees it. The telemetry
// sits in a library above the context, because its reporters use the
// context's services (the work directory, the task runners, the common
// information); so the context holds it by this interface, and the
// executable installs the maker (tlv::InstallTelemetry) at start-up. Every
// call to the telemetry then goes down through this interface, never up
// from the context.
class EventSink {
 public:
  EventSink(const EventSink&) = delete;
  EventSink& operator=(const EventSink&) = delete;
  virtual ~EventSink() = default;

  // The telemetry that serves area, or null when the area has none. The
  // instance lives as long as the sink.
  virtual Telemetry* TelemetryFor(int32_t area) = 0;

  // Records one event through telemetry, an instance of TelemetryFor: sent
  // at once, waiting for the exchange, when wait is true; queued otherwise.
  virtual void Record(Telemetry& telemetry,
                      bool wait,
                      std::string event,
                      std::string component,
                      std::string result,
                      std::string loc) = 0;

 protected:
  EventSink() = default;
};

}  // namespace tlv

#endif  // ENVIRONMENT_EVENT_SINK_H_
