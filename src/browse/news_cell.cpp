#include "browse/news_cell.h"

#include "browse/browse_support.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/date_formatter.h"
#include "platform/ui/ui_screen.h"

void NewsCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  connected(separatorHeightConstraint, "separatorHeightConstraint")->setConstant(1 / UIScreen::mainScreen()->scale());
}

void NewsCell::configure(const News& news) {
  auto title = connected(titleLabel, "titleLabel");
  title->setText(news.title());
  connected(descriptionLabel, "descriptionLabel")->setText(news.description());
  DateFormatter formatter;
  formatter.setDateFormat(NSLocalizedString("newslist_newscell_date_format"));
  connected(dateLabel, "dateLabel")->setText(formatter.stringFromDate(news.date()));
  if (const auto& colors = news.colors())
    connected(lectureColorView, "lectureColorView")->setBackgroundColor(colors->primary);
  title->setNeedsLayout();
}
