#pragma once

#include "platform/json/date_formater_transform.h"

// Every date on the wire: "yyyy-MM-dd HH:mm:ss" in the device's time zone, Gregorian calendar,
// ASCII digits. Make a new one for each mapping.
class DorvaleDateTransform : public DateFormaterTransform {
 public:
  DorvaleDateTransform();
};
