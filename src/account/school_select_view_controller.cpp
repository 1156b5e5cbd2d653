#include "account/school_select_view_controller.h"

#include <algorithm>
#include <string>

#include "app/progress_indicator_helper.h"
#include "app/required_outlet.h"
#include "app/ui_view_controller_dorvale.h"
#include "platform/foundation/bundle.h"
#include "platform/ui/ui_label.h"
#include "services/service_locator.h"

SchoolSelectViewController::SchoolSelectViewController() : backendApi_(ServiceLocator::shared().backendApi()) {}

SchoolSelectViewController::SchoolSelectViewController(const NSCoder& coder)
    : UIViewController(coder), backendApi_(ServiceLocator::shared().backendApi()) {}

void SchoolSelectViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  navigationItem()->setTitle(NSLocalizedString("schoolselect_navigation_title"));
  ProgressIndicatorHelper::instance()->showProgressIndicator();
  auto self = sharedAs<SchoolSelectViewController>();
  backendApi_->getSchools([self](auto list, auto) { self->schoolsDidLoad(std::move(list)); });
}

void SchoolSelectViewController::schoolsDidLoad(std::optional<MappableArray<SchoolResponse>> list) {
  ProgressIndicatorHelper::instance()->hideProgressIndicator();
  // A failed load leaves the list empty without a word; opening it again retries.
  if (!list) return;
  schools_ = std::move(list->array);
  if (!selectedSchools_.empty()) {
    for (std::size_t i = 0; i < schools_.size(); ++i) {
      const auto& id = schools_[i].id;
      if (id && std::find(selectedSchools_.begin(), selectedSchools_.end(), *id) != selectedSchools_.end())
        selectedIndexes_.insert(static_cast<int>(i));
    }
  }
  requiredOutlet(tableView_, "tableView")->reloadData();
}

void SchoolSelectViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  analyticsScreenTracking(*this, "SchoolSelect");
}

int SchoolSelectViewController::numberOfRowsInSection(UITableView&, int) { return static_cast<int>(schools_.size()); }

std::shared_ptr<UITableViewCell> SchoolSelectViewController::cellForRowAtIndexPath(UITableView& tableView,
                                                                                   const NSIndexPath& indexPath) {
  auto cell = tableView.dequeueReusableCellWithIdentifier(kCellIdentifier, indexPath);
  const auto& school = schools_.at(static_cast<std::size_t>(indexPath.row));
  if (auto label = cell->textLabel()) {
    // An absent part is written out as "nil", as the list has always shown it.
    auto part = [](const std::optional<std::string>& name) { return name.value_or("nil"); };
    label->setText(part(school.universityName) + " " + part(school.facultyName) + " " + part(school.departmentName));
  }
  cell->setAccessoryType(selectedIndexes_.contains(indexPath.row) ? UITableViewCellAccessoryType::Checkmark
                                                                  : UITableViewCellAccessoryType::None);
  return cell;
}

void SchoolSelectViewController::didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) {
  if (!selectedIndexes_.erase(indexPath.row)) selectedIndexes_.insert(indexPath.row);
  // A school without an id cannot be chosen by id, so it adds nothing to the report.
  std::vector<std::int64_t> ids;
  for (int row : selectedIndexes_) {
    if (const auto& id = schools_.at(static_cast<std::size_t>(row)).id) ids.push_back(*id);
  }
  if (auto listener = delegate()) listener->schoolSelectionDidChange(ids);
  tableView.reloadRowsAtIndexPaths({indexPath}, UITableViewRowAnimation::None);
}
