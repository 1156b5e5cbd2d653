#pragma once

#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/date_formatter.h"
#include "platform/json/transform_type.h"

// Dates as text in the formatter's pattern. Anything but a string the formatter accepts reads
// as absent.
class DateFormaterTransform : public TransformType<Date, std::string> {
 public:
  explicit DateFormaterTransform(DateFormatter dateFormatter) : dateFormatter_(std::move(dateFormatter)) {}

  std::optional<Date> transformFromJSON(const JsonValue& value) const override;
  std::optional<std::string> transformToJSON(const std::optional<Date>& value) const override;

  const DateFormatter& dateFormatter() const { return dateFormatter_; }

 private:
  DateFormatter dateFormatter_;
};
