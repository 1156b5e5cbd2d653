#include "model/news.h"

std::shared_ptr<News> News::init(const NewsResponse& record) {
  if (!record.id || !record.createDate) return nullptr;
  std::shared_ptr<News> news(new News());
  news->id_ = *record.id;
  news->date_ = *record.createDate;
  news->colors_ = Color::themeNamed(record.color);
  news->title_ = record.title;
  news->description_ = record.description;
  news->content_ = record.longText;
  return news;
}
