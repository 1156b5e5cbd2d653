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

// A searchable, refreshable grid of lecture tiles sized to fill the screen. Subclasses say which
// lectures to load, under which names, and which screen a tile opens.
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
  const std::vector<std::shared_ptr<Lecture>>& filteredLectures() const { return filteredLectures_; }
  const std::shared_ptr<UIRefreshControl>& refreshControl() const { return refreshControl_; }

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidLayoutSubviews() override;
  void viewWillTransitionToSize(CGSize size, const UIViewControllerTransitionCoordinator& coordinator) override;

  int numberOfItemsInSection(UICollectionView& collectionView, int section) override;
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& collectionView,
                                                               const NSIndexPath& indexPath) override;
  void didSelectItemAtIndexPath(UICollectionView& collectionView, const NSIndexPath& indexPath) override;
  void textDidChange(UISearchBar& searchBar, const std::string& searchText) override;

  void refresh();
  void hideKeyboard();

 protected:
  using Lectures = std::vector<std::shared_ptr<Lecture>>;
  virtual void fetchLectures(bool useCache, std::function<void(const Lectures&)> success,
                             std::function<void(const std::string&)> failure) = 0;
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
  void load(bool useCache);

  Lectures lectures_;
  Lectures filteredLectures_;
  std::shared_ptr<UIRefreshControl> refreshControl_;
  CGSize itemSize_;
};
