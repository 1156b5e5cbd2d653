#include "browse/news_cell.h"

#include "browse/browse_support.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/date_formatter.h"
#include "platform/ui/ui_screen.h"

void NewsCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  requiredOutlet(separatorHeightConstraint, "separatorHeightConstraint")
      ->setConstant(1 / UIScreen::mainScreen()->scale());
}

void NewsCell::configure(const News& news) {
  auto title = requiredOutlet(titleLabel, "titleLabel");
  title->setText(news.title());
  requiredOutlet(descriptionLabel, "descriptionLabel")->setText(news.description());
  DateFormatter formatter;
  formatter.setDateFormat(NSLocalizedString("newslist_newscell_date_format"));
  requiredOutlet(dateLabel, "dateLabel")->setText(formatter.stringFromDate(news.date()));
  if (const auto& colors = news.colors())
    requiredOutlet(lectureColorView, "lectureColorView")->setBackgroundColor(colors->primary);
  title->setNeedsLayout();
}
