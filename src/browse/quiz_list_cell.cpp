#include "browse/quiz_list_cell.h"

#include <cmath>

#include "browse/browse_support.h"
#include "platform/frameworks/image_loading.h"
#include "platform/ui/ui_image.h"
#include "platform/ui/ui_screen.h"

void QuizListCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  connected(separatorLineHeight, "separatorLineHeight")->setConstant(1 / UIScreen::mainScreen()->scale());
}

namespace {

constexpr int kSixths = 6;

std::shared_ptr<UIImage> bundleImage(const std::string& name) {
  auto image = UIImage::imageNamed(name);
  if (!image) fatalError("The bundle has no image " + name);
  return image;
}

// Only a finite ratio in [0, 1) gets here, so the product is a small finite number.
std::string percentText(double ratio) { return std::to_string(static_cast<long>(std::round(ratio * 100))) + "%"; }

}  // namespace

QuizProgress quizProgress(std::optional<double> bestResult) {
  if (!bestResult) return {"QuizDone0", "0%"};
  const double r = *bestResult;
  // The bounds are the doubles nearest k/6, lower bound inclusive; NaN fails every comparison.
  for (int k = 0; k < kSixths; ++k) {
    const double lower = k / static_cast<double>(kSixths);
    const double upper = k + 1 < kSixths ? (k + 1) / static_cast<double>(kSixths) : 1.0;
    if (r >= lower && r < upper) return {"QuizDone" + std::to_string(k), percentText(r)};
  }
  if (r >= 1) return {"QuizDone6", ""};
  return {"QuizDone0", "0%"};
}

std::string quizStartImageName(std::optional<double> bestResult) { return bestResult ? "QuizRetake" : "QuizResume"; }

void fillQuizListCell(QuizListCell& cell, const Quiz& quiz, std::optional<double> bestResult,
                      const std::optional<UIColor>& lectureColor) {
  auto start = connected(cell.quizStartImageView, "quizStartImageView");
  start->setContentMode(UIViewContentMode::ScaleAspectFill);
  start->setImage(
      bundleImage(quizStartImageName(bestResult))->imageWithRenderingMode(UIImage::RenderingMode::AlwaysTemplate));
  const auto progress = quizProgress(bestResult);
  connected(cell.quizProgressLabel, "quizProgressLabel")->setText(progress.text);
  hnk_setImage(
      *connected(cell.quizProgressImageView, "quizProgressImageView"),
      [name = progress.imageName] { return bundleImage(name); }, progress.imageName);
  if (lectureColor) start->setTintColor(*lectureColor);
  auto name = connected(cell.quizNameLabel, "quizNameLabel");
  name->setText(quiz.name());
  name->layoutIfNeeded();
}

void clearQuizListCell(QuizListCell& cell) {
  for (const auto& image : {cell.quizProgressImageView.lock(), cell.quizStartImageView.lock()}) {
    if (!image) continue;
    hnk_cancelSetImage(*image);
    image->setImage(nullptr);
  }
  for (const auto& label : {cell.quizProgressLabel.lock(), cell.quizNameLabel.lock()})
    if (label) label->setText(std::nullopt);
}
