#ifndef TELEMETRY_AREA_PLUGIN_H_
#define TELEMETRY_AREA_PLUGIN_H_

#include <cstdint>
#include <memory>

#include "common/common_service.h"

namespace tlv {

// Makes and owns the instances of a per-area service T, whose constructor
// takes an area slot: one instance (slot 0) that serves every area, or one
// for mainland (1) and one for oversea (2). The choice is made once, at
// construction.
//
// The instances are made by the constructor and never replaced, so Get
// needs no lock and its pointers stay valid for the plug-in's life.
template <typename T>
class AreaPlugin {
 public:
  AreaPlugin(const AreaPlugin&) = delete;
  AreaPlugin& operator=(const AreaPlugin&) = delete;
  virtual ~AreaPlugin() {
    oversea_.reset();
    mainland_.reset();
    single_.reset();
  }

  // The instance for area: the single one whatever the area, or with an
  // instance per area the mainland or oversea one, and null for any other
  // area.
  T* Get(int32_t area) const {
    if (!per_area_)
      return single_.get();
    if (area == kAreaMainland)
      return mainland_.get();
    if (area == kAreaOversea)
      return oversea_.get();
    return nullptr;
  }

  bool per_area() const { return per_area_; }

 protected:
  explicit AreaPlugin(bool per_area) : per_area_(per_area) {
    if (per_area_) {
      mainland_ = std::make_unique<T>(kAreaMainland);
      oversea_ = std::make_unique<T>(kAreaOversea);
    } else {
      single_ = std::make_unique<T>(kAreaNone);
    }
  }

 private:
  const bool per_area_;
  std::unique_ptr<T> single_;
  std::unique_ptr<T> mainland_;
  std::unique_ptr<T> oversea_;
};

}  // namespace tlv

#endif  // TELEMETRY_AREA_PLUGIN_H_
