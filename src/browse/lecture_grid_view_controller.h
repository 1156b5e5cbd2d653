#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/lecture.h"
#include "platform/ui/ui_collection_view.h"
#include "platform/ui/ui_refresh_control.h"
#include "platform/ui/ui_search_bar.h"
#include "platform/ui/ui_view_controller.h"

class LectureService;
class MainViewControllerFactory;

// A searchable, refreshable grid of lecture tiles sized to fill the screen. Subclasses say how the
// lectures load, under which names, and which screen a tile opens.
class LectureGridViewController : public UIViewController,
                                  public UICollectionViewDataSource,
                                  public UICollectionViewDelegate,
                                  public UISearchBarDelegate {
 public:
  LectureGridViewController();
  explicit LectureGridViewController(const NSCoder& coder);

  std::weak_ptr<UICollectionView> collectionView;
  std::weak_ptr<UISearchBar> searchBar;

  const std::vector<std::shared_ptr<Lecture>>& lectures() const { return lectures_; }
  const std::vector<std::shared_ptr<Lecture>>& filteredLectures() const {
    return searching_ ? filteredLectures_ : lectures_;
  }
  const std::shared_ptr<UIRefreshControl>& refreshControl() const { return refreshControl_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidLayoutSubviews() override;
  void viewWillTransitionToSize(CGSize size, const UIViewControllerTransitionCoordinator& coordinator) override;
  void hideKeyboard();
  void refreshData();

  int numberOfItemsInSection(UICollectionView& collectionView, int section) override;
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                               const NSIndexPath& indexPath) override;
  void didSelectItemAtIndexPath(UICollectionView& collectionView, const NSIndexPath& indexPath) override;
  void textDidChange(UISearchBar& searchBar, const std::string& searchText) override;

 protected:
  using Lectures = std::vector<std::shared_ptr<Lecture>>;
  using Fetch = std::function<void(bool useCache, std::function<void(const Lectures&)> success,
                                   std::function<void(const std::string&)> failure)>;
  // The tab's load: with the cache as the tab appears, without it on a pull.
  virtual void load(bool useCache) = 0;
  // The load the tabs share: the progress indicator around `fetch`, then the grid, or loadDidFail.
  void loadLectures(bool useCache, const Fetch& fetch);
  virtual std::string tabTitleKey() const = 0;
  virtual std::string navigationTitleKey() const = 0;
  virtual std::string screenName() const = 0;
  // The grid's own failure report.
  virtual void loadDidFail(const std::string& message);
  // The screen a tapped tile pushes.
  virtual std::shared_ptr<UIViewController> screenForLecture(const std::shared_ptr<Lecture>& lecture) = 0;

  const std::shared_ptr<LectureService> lectureService_;
  const std::shared_ptr<MainViewControllerFactory> viewControllerFactory_;

 private:
  void showAllLectures();
  Lectures lectures_;
  // What a search matched. Without one the grid shows lectures_ itself, not a copy of thousands.
  Lectures filteredLectures_;
  bool searching_ = false;
  std::shared_ptr<UIRefreshControl> refreshControl_;
  CGSize itemSize_;
};
