#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "model/attachment.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_view_controller.h"

// A curriculum's documents, by name and file name; a tap opens a document's address outside the
// application. The opener hands the list over; the screen makes no request.
class AttachmentViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  static constexpr const char* kCellIdentifier = "attachmentCell";

  AttachmentViewController() = default;
  explicit AttachmentViewController(const NSCoder& coder) : UIViewController(coder) {}

  std::weak_ptr<UITableView> tableView;

  // Required before the table asks for its rows.
  const std::optional<std::vector<std::shared_ptr<Attachment>>>& attachments() const { return attachments_; }
  void setAttachments(std::vector<std::shared_ptr<Attachment>> attachments) { attachments_ = std::move(attachments); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfSectionsInTableView(UITableView&) override { return 1; }
  int numberOfRowsInSection(UITableView& tableView, int section) override;
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  void didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;

 private:
  const std::vector<std::shared_ptr<Attachment>>& requiredAttachments() const;

  std::optional<std::vector<std::shared_ptr<Attachment>>> attachments_;
};
