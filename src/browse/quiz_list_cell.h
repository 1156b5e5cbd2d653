#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/quiz.h"
#include "platform/ui/ns_layout_constraint.h"
#include "platform/ui/ui_color.h"
#include "platform/ui/ui_image_view.h"
#include "platform/ui/ui_label.h"
#include "platform/ui/ui_table_view_cell.h"

// A quiz of a curriculum's quiz list: its name, the student's best result as a percentage, a
// progress picture that fills in sixths, and a start picture for a first or a repeated try.
class QuizListCell : public UITableViewCell {
 public:
  using UITableViewCell::UITableViewCell;

  std::weak_ptr<UIImageView> quizProgressImageView;
  std::weak_ptr<UILabel> quizProgressLabel;
  std::weak_ptr<UILabel> quizNameLabel;
  std::weak_ptr<UILabel> quizCountLabel;  // the storyboard's; no code writes it
  std::weak_ptr<UIImageView> quizStartImageView;
  std::weak_ptr<NSLayoutConstraint> separatorLineHeight;

  void awakeFromNib() override;
};

// What a best result shows: the progress picture's name and the label's text.
struct QuizProgress {
  std::string imageName;
  std::string text;
  bool operator==(const QuizProgress&) const = default;
};

// The progress of a best result (score / maximum; nothing when the quiz has none): sixths from
// "QuizDone0" to "QuizDone5" with the rounded percentage below 1, "QuizDone6" and no text from 1
// up (infinity too), and "QuizDone0" with "0%" for no result, a negative one or not a number.
QuizProgress quizProgress(std::optional<double> bestResult);

// The start picture: "QuizResume" for a quiz never taken, "QuizRetake" for one with a result.
std::string quizStartImageName(std::optional<double> bestResult);

// Fills `cell` with `quiz` and its best result; the start picture takes `lectureColor` when there
// is one, else keeps its tint.
void fillQuizListCell(QuizListCell& cell, const Quiz& quiz, std::optional<double> bestResult,
                      const std::optional<UIColor>& lectureColor);

// A row the quiz list no longer holds: every picture and text of `cell` cleared.
void clearQuizListCell(QuizListCell& cell);
