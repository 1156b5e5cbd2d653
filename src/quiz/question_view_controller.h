#pragma once

// What the quiz container asks of every question screen.
class QuestionViewController {
 public:
  virtual ~QuestionViewController() = default;
  virtual bool isAnswered() = 0;
  // Clears the choices and the typed word, leaves the evaluation, redraws.
  virtual void resetAnswers() = 0;
  virtual bool isCorrect() = 0;
  virtual double getScore() = 0;
  // Shows the right and wrong marks.
  virtual void evaluateAnswers() = 0;
  // Its page is now the one the quiz shows.
  virtual void pageDidBecomeCurrent() {}
};

// Told by a question screen after every change of its answer: whether it now has one.
class AnswerViewControllerDelegate {
 public:
  virtual ~AnswerViewControllerDelegate() = default;
  virtual void answerSelected(bool selected) = 0;
};
