#include "model/curriculum.h"

#include "model/model_url_builder.h"

std::shared_ptr<Curriculum> Curriculum::init(const CurriculumResponse& record) {
  if (!record.id || !record.name || !record.description) return nullptr;
  std::shared_ptr<Curriculum> curriculum(new Curriculum());
  curriculum->id_ = *record.id;
  curriculum->name_ = *record.name;
  curriculum->description_ = *record.description;
  curriculum->content_ = record.htmlContent;
  curriculum->pictureUrl_ = ModelUrlBuilder::buildUrlIfPresent(record.pictureUrl);
  return curriculum;
}
