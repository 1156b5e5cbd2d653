#include "browse/attachment_view_controller.h"

#include "app/ui_view_controller_dorvale.h"
#include "browse/browse_support.h"
#include "platform/foundation/bundle.h"
#include "platform/foundation/url.h"
#include "platform/ui/ui_application.h"
#include "platform/ui/ui_label.h"

const std::vector<std::shared_ptr<Attachment>>& AttachmentViewController::requiredAttachments() const {
  if (!attachments_) fatalError("AttachmentViewController needs its attachments");
  return *attachments_;
}

void AttachmentViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  connected(tableView, "tableView")->setTableFooterView(std::make_shared<UIView>(CGRect{}));
  navigationItem()->setTitle(NSLocalizedString("attachment_navigation_title"));
}

void AttachmentViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  analyticsScreenTracking(*this, "Attachments");
}

int AttachmentViewController::numberOfRowsInSection(UITableView&, int) {
  return static_cast<int>(requiredAttachments().size());
}

std::shared_ptr<UITableViewCell> AttachmentViewController::cellForRowAtIndexPath(UITableView& tableView,
                                                                                 const NSIndexPath& indexPath) {
  auto cell = tableView.dequeueReusableCellWithIdentifier(kCellIdentifier, indexPath);
  const auto& attachment = *requiredAttachments().at(static_cast<std::size_t>(indexPath.row));
  if (auto label = cell->textLabel()) label->setText(attachment.name());
  if (auto label = cell->detailTextLabel()) label->setText(attachment.fileName());
  return cell;
}

void AttachmentViewController::didSelectRowAtIndexPath(UITableView&, const NSIndexPath& indexPath) {
  const auto& attachment = *requiredAttachments().at(static_cast<std::size_t>(indexPath.row));
  auto url = attachment.url() ? URL::URLWithString(*attachment.url()) : std::nullopt;
  if (!url) {
    showAlert(*this, NSLocalizedString("attachment_url_error"));
    return;
  }
  auto application = UIApplication::sharedApplication();
  if (!application->canOpenURL(*url)) {
    showAlert(*this, NSLocalizedString("attachment_type_error"));
    return;
  }
  application->openURL(*url);
}
