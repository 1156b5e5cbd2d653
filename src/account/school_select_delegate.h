#pragma once

#include <cstdint>
#include <vector>

// Hears every change of the choice on the school list. Held weakly.
class SchoolSelectDelegate {
 public:
  virtual ~SchoolSelectDelegate() = default;

  // The ids of all schools chosen now, possibly none.
  virtual void schoolSelectionDidChange(const std::vector<std::int64_t>& schools) = 0;
};
