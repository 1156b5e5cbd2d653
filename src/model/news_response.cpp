#include "model/news_response.h"

#include "model/dorvale_date_transform.h"
#include "platform/json/bind.h"

void NewsResponse::mapping(Map& map) {
  bindField(id, map["id"]);
  bindField(title, map["title"]);
  bindField(description, map["description"]);
  bindField(createDate, map["createDate"], DorvaleDateTransform());
  bindField(longText, map["longText"]);
  bindField(lectureId, map["lectureId"]);
  bindField(color, map["color"]);
  bindField(lectureName, map["lectureName"]);
}
