#include "model/news.h"

std::shared_ptr<News> News::init(NewsResponse record) {
  if (!record.id || !record.createDate) return nullptr;
  // One allocation for the item and its count.
  struct Made : News {};
  std::shared_ptr<News> news = std::make_shared<Made>();
  news->id_ = *record.id;
  news->date_ = *record.createDate;
  // Not owned: the table outlives every item.
  if (const Color* theme = Color::theme(record.color))
    news->colors_ = std::shared_ptr<const Color>(std::shared_ptr<const Color>(), theme);
  news->title_ = std::move(record.title);
  news->description_ = std::move(record.description);
  news->content_ = std::move(record.longText);
  return news;
}
