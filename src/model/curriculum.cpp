#include "model/curriculum.h"

std::shared_ptr<Curriculum> Curriculum::init(const CurriculumResponse& record) {
  auto curriculum = ContentItem::init(record);
  if (curriculum) curriculum->content_ = record.htmlContent;
  return curriculum;
}
