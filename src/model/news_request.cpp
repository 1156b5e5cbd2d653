#include "model/news_request.h"

#include "platform/json/bind.h"

void NewsRequest::mapping(Map& map) {
  bindField(lectureId, map["lectureId"]);
  bindField(searchText, map["searchText"]);
}
