#include "platform/ui/ui_collection_view.h"

#include <gtest/gtest.h>

#include "platform/ui/render.h"
#include "platform/ui/ui_gesture_recognizer.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_nib.h"

namespace {

class Tile : public UICollectionViewCell {
 public:
  explicit Tile(const NSCoder& c) : UICollectionViewCell(c) {}
  void awakeFromNib() override {
    label = UILabel::make();
    contentView()->addSubview(label);
  }
  void prepareForReuse() override { ++reused; }
  std::shared_ptr<UILabel> label;
  int reused = 0;
};

// A cell whose label the nib connects; awakeFromNib finds it connected.
class NibTile : public UICollectionViewCell {
 public:
  explicit NibTile(const NSCoder& c) : UICollectionViewCell(c) {}
  void awakeFromNib() override { awoken.push_back(label != nullptr); }
  std::shared_ptr<UILabel> label;
  std::vector<bool> awoken;
};

// A grid whose tiles are as tall as their text is long, recording the questions it gets.
class Grid : public UICollectionViewDataSource, public UICollectionViewDelegateFlowLayout {
 public:
  int numberOfItemsInSection(UICollectionView&, int) override { return static_cast<int>(names.size()); }
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& cv, const NSIndexPath& ip) override {
    auto tile = std::static_pointer_cast<Tile>(cv.dequeueReusableCellWithReuseIdentifier(identifier, ip));
    tile->label->setText(names.at(static_cast<std::size_t>(ip.row)));
    heightsSeen.push_back(tile->bounds().size.height);
    return tile;
  }
  std::optional<CGSize> sizeForItemAtIndexPath(UICollectionView&, UICollectionViewLayout& layout,
                                               const NSIndexPath& ip) override {
    ++sizeQueries;
    if (invalidateOnce) {
      invalidateOnce = false;
      layout.invalidateLayout();
    }
    if (!sized) return std::nullopt;
    return CGSize{40, 10.0 * static_cast<double>(names.at(static_cast<std::size_t>(ip.row)).size())};
  }
  void didSelectItemAtIndexPath(UICollectionView&, const NSIndexPath& ip) override { selected.push_back(ip.row); }

  std::vector<std::string> names{"ab", "abcd", "a"};
  std::string identifier = "tile";
  bool sized = true;
  bool invalidateOnce = false;
  int sizeQueries = 0;
  std::vector<double> heightsSeen;
  std::vector<int> selected;
};

struct Fixture {
  Fixture() {
    cv->registerClass<Tile>("tile");
    cv->setDataSource(grid);
    cv->setDelegate(grid);
    layout()->setSectionInset(UIEdgeInsetsMake(5, 5, 5, 5));
  }
  std::shared_ptr<UICollectionViewFlowLayout> layout() const {
    return std::static_pointer_cast<UICollectionViewFlowLayout>(cv->collectionViewLayout());
  }
  std::shared_ptr<Grid> grid = std::make_shared<Grid>();
  std::shared_ptr<UICollectionView> cv = UICollectionView::make(CGRectMake(0, 0, 100, 300));
};

// A label that vouches for what it draws, counting its drawings.
class CountingLabel : public UILabel {
 public:
  bool drawsOnlyReportedState() const override { return true; }
  void renderSelf(TextCanvas& canvas) const override {
    ++draws;
    UILabel::renderSelf(canvas);
  }
  mutable int draws = 0;
};

// Draws a value that reports no change.
class Gauge : public UIView {
 public:
  void renderSelf(TextCanvas& canvas) const override { canvas.line(std::to_string(value)); }
  int value = 0;
};

// Plain cells: a picture and a counting label in a bar.
struct Shelf : UICollectionViewDataSource {
  int numberOfItemsInSection(UICollectionView&, int) override { return static_cast<int>(names.size()); }
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& cv, const NSIndexPath& ip) override {
    auto cell = cv.dequeueReusableCellWithReuseIdentifier("plain", ip);
    picture(*cell).setImage(image);
    auto& text = label(*cell);
    text.setText(names.at(static_cast<std::size_t>(ip.row)));
    text.setTextColor(UIColor::darkGrayColor());
    text.setShadowColor(UIColor::whiteColor());
    text.setShadowOffset({0, 1});
    return cell;
  }
  static UIImageView& picture(const UICollectionViewCell& cell) {
    return static_cast<UIImageView&>(*cell.contentView()->subviews().at(0));
  }
  static CountingLabel& label(const UICollectionViewCell& cell) {
    return static_cast<CountingLabel&>(*cell.contentView()->subviews().at(1)->subviews().at(0));
  }
  std::vector<std::string> names{"a", "b", "c"};
  std::shared_ptr<UIImage> image = UIImage::make(CGSize{4, 4});
};

}  // namespace

TEST(UICollectionViewTest, KeepsACellsLineUntilSomethingItDrawsChanges) {
  auto shelf = std::make_shared<Shelf>();
  auto cv = UICollectionView::make(CGRectMake(0, 0, 100, 300));
  cv->registerPrototype("plain", [] {
    auto cell = UICollectionViewCell::make();
    cell->contentView()->addSubview(std::make_shared<UIImageView>());
    auto bar = UIView::make();
    cell->contentView()->addSubview(bar);
    bar->addSubview(std::make_shared<CountingLabel>());
    return cell;
  });
  cv->setDataSource(shelf);
  auto screen = [&cv] {
    TextCanvas canvas;
    cv->render(canvas);
    return canvas.text();
  };
  auto draws = [&cv] {
    int n = 0;
    for (const auto& cell : cv->visibleCells()) n += Shelf::label(*cell).draws;
    return n;
  };
  EXPECT_EQ(screen(), "0. (image: image 4x4) | a\n1. (image: image 4x4) | b\n2. (image: image 4x4) | c\n");
  EXPECT_EQ(draws(), 3);
  // Configured the same, through no items and back: nothing is drawn again.
  cv->reloadData();
  shelf->names.clear();
  cv->reloadData();
  EXPECT_EQ(screen(), "");
  shelf->names = {"a", "b", "c"};
  cv->reloadData();
  EXPECT_EQ(screen(), "0. (image: image 4x4) | a\n1. (image: image 4x4) | b\n2. (image: image 4x4) | c\n");
  EXPECT_EQ(draws(), 3);

  // Each change shows at once, reload or not.
  shelf->names[1] = "B";
  cv->reloadData();
  auto first = cv->cellForItemAtIndexPath({0, 0});
  auto second = cv->cellForItemAtIndexPath({0, 1});
  auto third = cv->cellForItemAtIndexPath({0, 2});
  Shelf::picture(*first).setHidden(true);
  Shelf::picture(*third).setImage(nullptr);
  EXPECT_EQ(screen(), "0. a\n1. (image: image 4x4) | B\n2. c\n");
  EXPECT_EQ(draws(), 6);
  auto note = UILabel::make();
  note->setText("new");
  second->contentView()->subviews().at(1)->addSubview(note);
  third->contentView()->subviews().at(1)->setAlpha(0);
  EXPECT_EQ(screen(), "0. a\n1. (image: image 4x4) | B | new\n2.\n");
  note->removeFromSuperview();
  second->contentView()->bringSubviewToFront(second->contentView()->subviews().at(0));
  EXPECT_EQ(screen(), "0. a\n1. B | (image: image 4x4)\n2.\n");

  // What reports no change is drawn each time: a tap recogniser's switch, a view of another kind.
  auto& picture = Shelf::picture(*first);
  picture.setHidden(false);
  picture.setUserInteractionEnabled(true);
  picture.setAccessibilityIdentifier("cover");
  auto tap = UITapGestureRecognizer::make();
  picture.addGestureRecognizer(tap);
  EXPECT_EQ(screen().substr(0, 32), "0. (image: image 4x4) #cover | a");
  tap->setEnabled(false);
  EXPECT_EQ(screen().substr(0, 24), "0. (image: image 4x4) | ");
  auto gauge = std::make_shared<Gauge>();
  second->contentView()->addSubview(gauge);
  gauge->value = 7;
  EXPECT_EQ(screen().substr(screen().find("1.")), "1. B | (image: image 4x4) | 7\n2.\n");
}

TEST(UICollectionViewTest, FlowLayoutSizesItemsBeforeCellsAreAsked) {
  Fixture f;
  f.cv->layoutIfNeeded();
  // Cells come sized by the delegate.
  EXPECT_EQ(f.grid->heightsSeen, (std::vector<double>{20, 40, 10}));
  EXPECT_EQ(f.grid->sizeQueries, 3);
  // Two 40-point tiles fit in a line of 90 (100 minus the insets) with the 10-point gap.
  EXPECT_EQ(f.layout()->frameForItemAtIndexPath({0, 0}), CGRectMake(5, 5, 40, 20));
  EXPECT_EQ(f.layout()->frameForItemAtIndexPath({0, 1}), CGRectMake(55, 5, 40, 40));
  EXPECT_EQ(f.layout()->frameForItemAtIndexPath({0, 2}), CGRectMake(5, 55, 40, 10));
  EXPECT_EQ(f.cv->contentSize(), (CGSize{100, 70}));
  EXPECT_EQ(f.cv->cellForItemAtIndexPath({0, 1})->frame(), CGRectMake(55, 5, 40, 40));

  // Without delegate sizes the layout's item size holds.
  f.grid->sized = false;
  f.layout()->setItemSize({30, 30});
  f.layout()->invalidateLayout();
  f.cv->layoutIfNeeded();
  EXPECT_EQ(f.cv->cellForItemAtIndexPath({0, 2})->frame(), CGRectMake(5, 5 + 30 + 10, 30, 30));
  EXPECT_EQ(f.cv->reloadDataCount(), 1);  // a new layout does not ask for cells again
}

TEST(UICollectionViewTest, InvalidatingWhileSizingAsksAgainInTheNextPassOnly) {
  Fixture f;
  f.grid->invalidateOnce = true;
  f.cv->layoutIfNeeded();
  EXPECT_EQ(f.grid->sizeQueries, 3);
  EXPECT_TRUE(f.layout()->isInvalid());
  f.cv->layoutIfNeeded();
  EXPECT_EQ(f.grid->sizeQueries, 6);
  f.cv->layoutIfNeeded();
  EXPECT_EQ(f.grid->sizeQueries, 6);
}

TEST(UICollectionViewTest, ReloadingItemsReusesTheirCells) {
  Fixture f;
  f.cv->reloadData();
  auto first = std::static_pointer_cast<Tile>(f.cv->cellForItemAtIndexPath({0, 0}));
  auto second = f.cv->cellForItemAtIndexPath({0, 1});
  f.grid->names[0] = "new";
  f.grid->heightsSeen.clear();
  f.cv->reloadItemsAtIndexPaths({NSIndexPath{0, 0}});
  EXPECT_EQ(f.grid->heightsSeen.size(), 1u);
  EXPECT_EQ(f.cv->cellForItemAtIndexPath({0, 0}), first);  // the same cell, handed out again
  EXPECT_EQ(first->reused, 1);
  EXPECT_EQ(first->label->text(), "new");
  EXPECT_EQ(f.cv->cellForItemAtIndexPath({0, 1}), second);
  EXPECT_EQ(f.cv->cellsCreated(), 3);

  f.grid->names.push_back("z");
  f.cv->insertItemsAtIndexPaths({NSIndexPath{0, 3}});
  EXPECT_EQ(f.cv->indexPathsForVisibleItems().size(), 4u);
  EXPECT_EQ(f.cv->cellsCreated(), 4);
}

// Cells asked for again stand where they stood; one no item takes back leaves the list.
TEST(UICollectionViewTest, ReloadingItemsKeepsTheCellsThatComeBackAndDropsTheRest) {
  Fixture f;
  f.cv->registerClass<Tile>("other");
  f.cv->reloadData();
  const auto cells = f.cv->visibleCells();
  const auto views = f.cv->subviews();
  f.cv->reloadItemsAtIndexPaths({NSIndexPath{0, 0}, NSIndexPath{0, 1}, NSIndexPath{0, 2}});
  EXPECT_EQ(f.cv->subviews(), views);
  f.grid->identifier = "other";
  f.cv->reloadItemsAtIndexPaths({NSIndexPath{0, 1}});
  EXPECT_EQ(cells[1]->superview(), nullptr);
  TextCanvas canvas;
  f.cv->render(canvas);
  EXPECT_EQ(canvas.text(), "0. ab\n1. abcd\n2. a\n");
}

TEST(UICollectionViewTest, EmptyingAndRefillingHandsItemsTheirCellsInItemOrder) {
  Fixture f;
  f.cv->reloadData();
  auto cells = f.cv->visibleCells();
  ASSERT_EQ(cells.size(), 3u);
  const auto names = f.grid->names;
  f.grid->names.clear();
  f.cv->reloadData();
  EXPECT_TRUE(f.cv->visibleCells().empty());
  for (const auto& cell : cells) EXPECT_EQ(cell->superview(), nullptr);
  TextCanvas empty;
  f.cv->render(empty);
  EXPECT_EQ(empty.text(), "");

  f.grid->names = {"x", "y", "z"};
  f.cv->reloadData();
  EXPECT_EQ(f.cv->cellsCreated(), 3);
  EXPECT_EQ(f.cv->visibleCells(), cells);
  std::vector<std::shared_ptr<UIView>> tiles;
  for (const auto& view : f.cv->subviews()) {
    if (std::dynamic_pointer_cast<Tile>(view)) tiles.push_back(view);
  }
  EXPECT_EQ(tiles, std::vector<std::shared_ptr<UIView>>(cells.begin(), cells.end()));
  EXPECT_EQ(f.cv->indexPathForCell(*cells[2]), (NSIndexPath{0, 2}));
  TextCanvas full;
  f.cv->render(full);
  EXPECT_EQ(full.text(), "0. x\n1. y\n2. z\n");
}

TEST(UICollectionViewTest, ACellThatOutlivesItsCollectionIsAPlainViewElsewhere) {
  std::shared_ptr<UICollectionViewCell> kept;
  {
    Fixture gone;
    gone.cv->reloadData();
    kept = gone.cv->cellForItemAtIndexPath({0, 1});
  }
  Fixture other;
  other.grid->names = {"q"};
  other.cv->reloadData();
  other.cv->addSubview(kept);
  EXPECT_EQ(other.cv->indexPathForCell(*kept), std::nullopt);
  TextCanvas canvas;
  other.cv->render(canvas);
  EXPECT_EQ(canvas.text(), "abcd\n0. q\n");
}

TEST(UICollectionViewTest, TapsSelectAndRender) {
  Fixture f;
  EXPECT_TRUE(f.cv->tapItemAtIndexPath({0, 2}));
  EXPECT_FALSE(f.cv->tapItemAtIndexPath({0, 3}));
  EXPECT_EQ(f.grid->selected, std::vector<int>{2});
  EXPECT_TRUE(f.cv->cellForItemAtIndexPath({0, 2})->isSelected());
  TextCanvas canvas;
  f.cv->render(canvas);
  EXPECT_EQ(canvas.text(), "0. ab\n1. abcd\n2. a (selected)\n");
}

TEST(UINibTest, EachLoadMakesFreshViewsAwokenOnceAfterTheirOutletsAreConnected) {
  int made = 0;
  UINib::registerNib("NibTile", [&made](UINibLoader& nib) -> std::vector<std::shared_ptr<UIView>> {
    auto tile = nib.make<NibTile>();
    tile->label = nib.make<UILabel>(tile->contentView());
    ++made;
    return {tile, nib.make<UIView>()};
  });
  auto first = loadNibNamed("NibTile");
  auto second = loadNibNamed("NibTile");
  ASSERT_EQ(first.size(), 2u);
  EXPECT_NE(first[0], second[0]);
  EXPECT_EQ(std::static_pointer_cast<NibTile>(first[0])->awoken, std::vector<bool>{true});

  // Cells registered from the nib are awoken by the nib alone, and reused.
  struct OneItem : UICollectionViewDataSource {
    int numberOfItemsInSection(UICollectionView&, int) override { return 1; }
    std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& cv, const NSIndexPath& ip) override {
      return cv.dequeueReusableCellWithReuseIdentifier("tile", ip);
    }
  };
  auto source = std::make_shared<OneItem>();
  auto cv = UICollectionView::make(CGRectMake(0, 0, 100, 100));
  cv->registerNib(UINib::nibWithNibName("NibTile"), "tile");
  cv->setDataSource(source);
  cv->reloadData();
  cv->reloadData();
  auto cell = std::dynamic_pointer_cast<NibTile>(cv->cellForItemAtIndexPath({0, 0}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->awoken, std::vector<bool>{true});
  EXPECT_EQ(cv->cellsReused(), 1);
  EXPECT_EQ(made, 3);

  EXPECT_DEATH(UINib::nibWithNibName("Missing"), "Could not load NIB in bundle with name 'Missing'");
  UINib::registerNib("NotACell",
                     [](UINibLoader& nib) -> std::vector<std::shared_ptr<UIView>> { return {nib.make<UILabel>()}; });
  cv->registerNib(UINib::nibWithNibName("NotACell"), "label");
  EXPECT_DEATH(cv->dequeueReusableCellWithReuseIdentifier("label", {0, 0}),
               "does not start with a collection view cell");
  UINib::unregisterNib("NibTile");
  UINib::unregisterNib("NotACell");
}
