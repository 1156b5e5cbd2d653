#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "account/school_select_delegate.h"
#include "backend/backend_api.h"
#include "model/school_response.h"
#include "platform/ui/ui_table_view.h"
#include "platform/ui/ui_view_controller.h"

// The list a new student picks schools from: every school of the backend, a checkmark on the
// chosen ones, and the chosen ids reported to the delegate after every toggle.
class SchoolSelectViewController : public UIViewController, public UITableViewDataSource, public UITableViewDelegate {
 public:
  static constexpr const char* kCellIdentifier = "schoolCell";

  SchoolSelectViewController();
  explicit SchoolSelectViewController(const NSCoder& coder);

  const std::vector<SchoolResponse>& schools() const { return schools_; }
  void setSchools(std::vector<SchoolResponse> schools) { schools_ = std::move(schools); }
  // Row numbers that carry a checkmark.
  const std::set<int>& selectedIndexes() const { return selectedIndexes_; }
  void setSelectedIndexes(std::set<int> indexes) { selectedIndexes_ = std::move(indexes); }
  // Ids chosen earlier: set before the view loads, read once when the list arrives.
  const std::vector<std::int64_t>& selectedSchools() const { return selectedSchools_; }
  void setSelectedSchools(std::vector<std::int64_t> schools) { selectedSchools_ = std::move(schools); }
  std::shared_ptr<SchoolSelectDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(std::weak_ptr<SchoolSelectDelegate> delegate) { delegate_ = std::move(delegate); }
  std::shared_ptr<UITableView> tableView() const { return tableView_.lock(); }
  void setTableView(std::weak_ptr<UITableView> tableView) { tableView_ = std::move(tableView); }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;

  int numberOfSectionsInTableView(UITableView&) override { return 1; }
  int numberOfRowsInSection(UITableView& tableView, int section) override;
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;
  void didSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) override;

 private:
  void schoolsDidLoad(std::optional<MappableArray<SchoolResponse>> list);

  const std::shared_ptr<BackendApi> backendApi_;
  std::vector<SchoolResponse> schools_;
  std::set<int> selectedIndexes_;
  std::vector<std::int64_t> selectedSchools_;
  std::weak_ptr<SchoolSelectDelegate> delegate_;
  std::weak_ptr<UITableView> tableView_;
};
